#include "install/uSettings.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "base/uIniFile.h"
#include "base/uText.h"
#include "brand/uMarca.h"
#include "install/uInstalacao.h"
#include "protocol/uProtocol.h"

#ifndef HALVORA_DEFAULT_RELAY_URL
#error "HALVORA_DEFAULT_RELAY_URL comes from the build (CMake cache variable of the same name)"
#endif

namespace halvora {
namespace {

constexpr std::string_view SectionServer = "Server";
constexpr std::string_view KeyUrl = "Url";
constexpr std::string_view KeyHost = "Host";  // older form of the relay, with KeyPort
constexpr std::string_view KeyPort = "Port";
constexpr std::string_view KeyApiUrl = "ApiUrl";
constexpr std::string_view SectionClient = "Client";
constexpr std::string_view KeyId = "Id";
constexpr std::string_view KeyKey = "Key";
constexpr std::string_view KeyBrand = "Brand";

constexpr std::string_view DefaultHost = "127.0.0.1";
constexpr int DefaultPort = 7800;

constexpr std::string_view KeyAlphabet = "0123456789abcdef";
constexpr int KeyLength = 48;
constexpr std::string_view PasswordAlphabet = "abcdefghjkmnpqrstuvwxyz23456789";
constexpr int PasswordLength = 6;

[[noreturn]] void FolderFailed(const std::filesystem::path& AFolder, const std::error_code& AError) {
  const std::u8string Name = AFolder.u8string();
  throw std::runtime_error("erro ao criar a pasta \"" + std::string(Name.begin(), Name.end()) +
                           "\": " + AError.message());
}

// Creates the folder of APath with its missing parents; with AOwnerOnly, the folders made
// here are the owner's only.
void CreateFolderOf(const std::string& APath, bool AOwnerOnly) {
  namespace fs = std::filesystem;
  const fs::path Folder = PathOf(APath).parent_path();
  if (Folder.empty()) return;
  std::error_code Error;
  std::vector<fs::path> Missing;
  for (fs::path Part = Folder;
       AOwnerOnly && !Part.empty() && fs::status(Part, Error).type() == fs::file_type::not_found;
       Part = Part.parent_path()) {
    Missing.push_back(Part);
    if (Part == Part.parent_path()) break;
  }
  fs::create_directories(Folder, Error);
  if (Error) FolderFailed(Folder, Error);
  for (const fs::path& Made : Missing) {
    fs::permissions(Made, fs::perms::owner_all, fs::perm_options::replace, Error);
    if (Error) FolderFailed(Made, Error);
  }
}

std::string UserSettingsPath(const ISystemFolders& AFolders) {
  const TPlatformNames& Names = PlatformNames();
  std::string Folder = KnownFolderPath(TKnownFolder::kfUserAppData, AFolders);
  if (!Folder.empty() && Folder.back() != Names.Separator) Folder += Names.Separator;
  return Folder + std::string(Names.AppFolder) + Names.Separator + std::string(Names.SettingsFile);
}

}  // namespace

std::string SaveFailedText(const std::exception& AError) {
  return std::string(SaveFailedPrefix) + AError.what();
}

std::string DefaultRelayUrl() { return HALVORA_DEFAULT_RELAY_URL; }

std::string SettingsPath(const ISystemFolders& AFolders) {
  return IsInstalled(AFolders) ? MachineSettingsPath(AFolders) : UserSettingsPath(AFolders);
}

std::string BrandFolder(const std::string& ASettingsPath) {
  const std::size_t Separator = ASettingsPath.rfind(PlatformNames().Separator);
  return Separator == std::string::npos ? std::string() : ASettingsPath.substr(0, Separator + 1);
}

TSettings LoadSettings(const std::string& APath, std::string_view AProgramPath) {
  const std::unique_ptr<IIniStore> Store = OpenIniStore(APath);
  const IIniValues& Ini = *Store;
  TSettings Result;
  Result.ServerUrl = Ini.ReadString(SectionServer, KeyUrl, "");
  if (Result.ServerUrl.empty() && Ini.ValueExists(SectionServer, KeyHost)) {
    Result.ServerUrl = "ws://" + Ini.ReadString(SectionServer, KeyHost, DefaultHost) + ":" +
                       std::to_string(Ini.ReadInteger(SectionServer, KeyPort, DefaultPort)) +
                       "/relay";
  }
  if (Result.ServerUrl.empty()) Result.ServerUrl = DefaultRelayUrl();
  Result.MyId = Ini.ReadString(SectionClient, KeyId, "");
  Result.Key = Ini.ReadString(SectionClient, KeyKey, "");
  Result.BrandCode = Ini.ReadString(SectionClient, KeyBrand, "");
  Result.ApiUrl = Ini.ReadString(SectionServer, KeyApiUrl, "");
  if (Result.ApiUrl.empty()) Result.ApiUrl = UrlApiDoServidor(Result.ServerUrl);
  if (std::string Code = CodigoMarcaDoArquivo(AProgramPath); !Code.empty()) {
    Result.BrandCode = std::move(Code);
  }
  if (Utf16Length(Result.Key) < KeyLength) Result.Key = NewKey();
  return Result;
}

void WriteSettings(IIniValues& AIni, const TSettings& ASettings) {
  AIni.WriteString(SectionServer, KeyUrl, ASettings.ServerUrl);
  AIni.WriteString(SectionClient, KeyId, ASettings.MyId);
  AIni.WriteString(SectionClient, KeyKey, ASettings.Key);
  AIni.WriteString(SectionClient, KeyBrand, ASettings.BrandCode);
}

void SaveSettings(const std::string& APath, const TSettings& ASettings, TSettingsScope AScope) {
  const bool OwnerOnly = AScope == TSettingsScope::ssUser;
  CreateFolderOf(APath, OwnerOnly);
  const std::unique_ptr<IIniStore> Ini = OpenIniStore(APath);
  WriteSettings(*Ini, ASettings);
  // Every copy of the older form goes, so none can come back into effect.
  while (Ini->ValueExists(SectionServer, KeyHost)) Ini->DeleteKey(SectionServer, KeyHost);
  while (Ini->ValueExists(SectionServer, KeyPort)) Ini->DeleteKey(SectionServer, KeyPort);
  Ini->Commit(OwnerOnly ? TReplaceMode::rmOwnerOnly : TReplaceMode::rmKeepMode);
}

void SaveSettings(const ISystemFolders& AFolders, const TSettings& ASettings) {
  if (IsInstalled(AFolders))
    SaveSettings(MachineSettingsPath(AFolders), ASettings, TSettingsScope::ssMachine);
  else
    SaveSettings(UserSettingsPath(AFolders), ASettings, TSettingsScope::ssUser);
}

std::string NewKey() { return RandomString(KeyAlphabet, KeyLength); }

std::string NewPasswordText() { return RandomString(PasswordAlphabet, PasswordLength); }

}  // namespace halvora
