#include "install/uInstallerSteps.h"

#include <filesystem>
#include <system_error>

#include "base/uAscii.h"
#include "base/uIniFile.h"
#include "install/uInstalacao.h"
#include "install/uInstaller.h"
#include "install/uSettings.h"

namespace halvora {
namespace {

namespace fs = std::filesystem;

std::string WithoutQuotes(const std::string& AValue) {
  std::string Result;
  for (char Char : AValue) {
    if (Char != '"') Result += Char;
  }
  return Result;
}

std::string ArgAt(const std::vector<std::string>& AArgs, std::size_t AIndex) {
  return AIndex < AArgs.size() ? AArgs[AIndex] : std::string();
}

// Text equality, or two names of the same file (which also covers other letter case on a
// file system that ignores it). Letter case alone does not make two names one file where
// the file system tells case apart.
bool SameFile(const std::string& AOne, const std::string& AOther) {
  if (AOne == AOther) return true;
  std::error_code Error;
  return fs::equivalent(PathOf(AOne), PathOf(AOther), Error) && !Error;
}

// Copies the file through a temporary file in the target's folder renamed over the target,
// so a copy that fails half-way leaves the old file whole.
bool CopyThroughTemporary(const std::string& ASource, const std::string& ATarget) {
  const fs::path Target = PathOf(ATarget);
  fs::path Temporary = Target;
  Temporary += ".new";
  std::error_code Error;
  if (!fs::copy_file(PathOf(ASource), Temporary, fs::copy_options::overwrite_existing, Error) ||
      Error) {
    fs::remove(Temporary, Error);
    return false;
  }
  fs::rename(Temporary, Target, Error);
  if (Error) {
    std::error_code Ignored;
    fs::remove(Temporary, Ignored);
    return false;
  }
  return true;
}

std::string ParentOf(const std::string& APath) {
  const std::size_t Slash = APath.find_last_of(PlatformNames().Separator);
  return Slash == std::string::npos ? std::string() : APath.substr(0, Slash);
}

}  // namespace

std::vector<std::string> InstallArguments(const std::string& AServerUrl, const std::string& AId,
                                          const std::string& AKey, const std::string& ABrandCode) {
  return {"/" + std::string(SwitchInstalar), WithoutQuotes(AServerUrl), WithoutQuotes(AId),
          WithoutQuotes(AKey), WithoutQuotes(ABrandCode)};
}

bool RunElevated(TInstallContext& AContext, const std::vector<std::string>& AArgs, int& AExitCode) {
  AExitCode = UninstallNotDone;
  if (!AContext.Elevation || !AContext.Elevation->RunElevated(AArgs, AExitCode)) {
    AExitCode = UninstallNotDone;
    return false;
  }
  return true;
}

bool InstallElevated(TInstallContext& AContext, const std::string& AServerUrl,
                     const std::string& AId, const std::string& AKey,
                     const std::string& ABrandCode) {
  int ExitCode = 0;
  return RunElevated(AContext, InstallArguments(AServerUrl, AId, AKey, ABrandCode), ExitCode) &&
         ExitCode == InstallOk;
}

bool HasServiceManagerAccess(TInstallContext& AContext) {
  return AContext.Services && AContext.Services->HasAccess();
}

bool InstallService(TInstallContext& AContext) {
  return AContext.Services &&
         AContext.Services->InstallService(InstalledExePath(*AContext.Folders));
}

void RemoveService(TInstallContext& AContext) {
  if (AContext.Services) AContext.Services->RemoveService();
}

int RunInstall(const std::vector<std::string>& AArgs, TInstallContext& AContext) {
  try {
    const std::string InstallSwitch = "/" + std::string(SwitchInstalar);
    std::size_t At = AArgs.size();
    for (std::size_t I = 1; I < AArgs.size(); ++I) {
      if (SameTextAscii(AArgs[I], InstallSwitch)) {
        At = I;
        break;
      }
    }
    const std::string Url = ArgAt(AArgs, At + 1);
    const std::string Id = ArgAt(AArgs, At + 2);
    const std::string Key = ArgAt(AArgs, At + 3);
    const std::string Brand = ArgAt(AArgs, At + 4);
    if (Url.empty() || Key.size() < InstallMinKeyLength) return InstallBadArguments;

    const ISystemFolders& Folders = *AContext.Folders;
    const std::string Folder = InstallFolder(Folders);
    std::error_code Error;
    fs::create_directories(PathOf(Folder), Error);
    if (Error || !fs::is_directory(PathOf(Folder), Error)) return InstallNoFolder;

    const std::string Installed = InstalledExePath(Folders);
    if (!SameFile(AContext.ProgramPath, Installed) &&
        !CopyThroughTemporary(AContext.ProgramPath, Installed)) {
      return InstallCopyFailed;
    }

    const std::string SettingsPath = MachineSettingsPath(Folders);
    fs::create_directories(PathOf(ParentOf(SettingsPath)), Error);
    TIniFile Settings;
    const bool Existed = Settings.Load(SettingsPath);
    TSettings Identity;
    Identity.ServerUrl = Url;
    Identity.MyId = Id;
    Identity.Key = Key;
    Identity.BrandCode = Brand;
    WriteSettings(Settings, Identity);
    Settings.Save(SettingsPath);
    // The agent runs as the console's user and reads these settings.
    if (!Existed) {
      fs::permissions(PathOf(SettingsPath),
                      fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                          fs::perms::others_read,
                      Error);
    }

    if (AContext.Entry) {
      AContext.Entry->Write({"Halvora", "Quenmir Softwares", Installed, Folder, Installed,
                             "/" + std::string(SwitchDesinstalar)});
    }
    try {
      if (AContext.Policy) AContext.Policy->SetSasPolicy(true);
    } catch (...) {
    }
    return InstallService(AContext) ? InstallOk : InstallServiceFailed;
  } catch (...) {
    return InstallFailed;
  }
}

int RunUninstall(TInstallContext& AContext) {
  if (!HasServiceManagerAccess(AContext)) {
    int ExitCode = UninstallNotDone;
    return RunElevated(AContext, {"/" + std::string(SwitchDesinstalar)}, ExitCode)
               ? ExitCode
               : UninstallNotDone;
  }
  if (!AContext.Dialogs || !AContext.Dialogs->Confirm(UninstallConfirmText)) {
    return UninstallNotDone;
  }
  const ISystemFolders& Folders = *AContext.Folders;
  try {
    RemoveService(AContext);
  } catch (...) {
  }
  if (AContext.Sleep) AContext.Sleep(1500);
  std::error_code Error;
  const std::string SettingsPath = MachineSettingsPath(Folders);
  fs::remove(PathOf(SettingsPath), Error);
  try {
    if (AContext.Policy) AContext.Policy->SetSasPolicy(false);
  } catch (...) {
  }
  // Removes the folder only when it is empty.
  fs::remove(PathOf(ParentOf(SettingsPath)), Error);
  try {
    if (AContext.Entry) AContext.Entry->Remove();
  } catch (...) {
  }
  if (AContext.RemoveInstallFolder) AContext.RemoveInstallFolder(InstallFolder(Folders));
  AContext.Dialogs->Inform(UninstallDoneText);
  return UninstallOk;
}

}  // namespace halvora
