#include "install/uInstalacao.h"

#include <filesystem>
#include <system_error>

#include "base/uAscii.h"
#include "base/uFiles.h"
#include "install/uProcessArguments.h"

namespace halvora {
namespace {

bool IsSwitch(std::string_view AArg, std::string_view AName) {
  return !AArg.empty() && (AArg[0] == '-' || AArg[0] == '/') &&
         SameTextAscii(AArg.substr(1), AName);
}

bool IsRegularFile(const std::string& APath) {
  std::error_code Error;
  return std::filesystem::is_regular_file(PathOf(APath), Error);
}

}  // namespace

bool HasSwitchIn(const std::vector<std::string>& AArgs, std::string_view AName) {
  for (std::size_t I = 1; I < AArgs.size(); ++I) {
    if (IsSwitch(AArgs[I], AName)) return true;
  }
  return false;
}

bool HasSwitch(std::string_view AName) { return HasSwitchIn(ProcessArguments(), AName); }

bool IsAgentMode() {
  static const bool AgentMode = HasSwitch(SwitchAgente);
  return AgentMode;
}

std::string KnownFolderPath(TKnownFolder AFolder, const ISystemFolders& AFolders) {
  return AFolders.KnownFolderPath(AFolder);
}

std::string MachineSettingsPath(const ISystemFolders& AFolders) {
  const TPlatformNames& Names = PlatformNames();
  return KnownFolderPath(TKnownFolder::kfCommonAppData, AFolders) + std::string(Names.AppFolder) +
         Names.Separator + std::string(Names.SettingsFile);
}

std::string InstallFolder(const ISystemFolders& AFolders) {
  const TPlatformNames& Names = PlatformNames();
  return KnownFolderPath(TKnownFolder::kfProgramFiles, AFolders) + std::string(Names.AppFolder) +
         Names.Separator;
}

std::string InstalledExePath(const ISystemFolders& AFolders) {
  return InstallFolder(AFolders) + std::string(PlatformNames().ExeName);
}

bool IsInstalled(const ISystemFolders& AFolders) {
  return IsRegularFile(MachineSettingsPath(AFolders)) && IsRegularFile(InstalledExePath(AFolders));
}

std::string QuoteArg(std::string_view AValue) {
  std::string Result = "\"";
  for (char Char : AValue) {
    if (Char != '"') Result += Char;
  }
  Result += '"';
  return Result;
}

}  // namespace halvora
