#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "install/uInstaller.h"
#include "install/uSystemFolders.h"

namespace halvora {

// Exit codes of the install mode besides InstallOk (0) and InstallFailed (9).
inline constexpr int InstallBadArguments = 2;   // server URL missing or key too short
inline constexpr int InstallNoFolder = 3;       // the installation folder was not created
inline constexpr int InstallCopyFailed = 4;     // copying the executable failed
inline constexpr int InstallServiceFailed = 5;  // the service was not created or started
// Exit code read from an elevated copy that still runs when the wait ends.
inline constexpr int ElevatedStillRunning = 259;
// Shortest key the installer accepts.
inline constexpr std::size_t InstallMinKeyLength = 32;

inline constexpr const char* UninstallConfirmText =
    "Remover o Halvora deste computador?\r\nO suporte deixa de ter acesso permanente a ele.";
inline constexpr const char* UninstallDoneText = "O Halvora foi removido deste computador.";

// Starts this program again with administrator rights.
class IElevation {
 public:
  virtual ~IElevation() = default;
  // Runs the program's own file elevated with AArgs (the program path not included) and
  // waits for it at most 120 s. False when it was not started (elevation declined, no way to
  // elevate); else AExitCode is its exit code, ElevatedStillRunning when it still runs.
  virtual bool RunElevated(const std::vector<std::string>& AArgs, int& AExitCode) = 0;
};

// The system's service manager, holding the one service of this program.
class IServiceManager {
 public:
  virtual ~IServiceManager() = default;
  // True when this process may create, change and remove services.
  virtual bool HasAccess() = 0;
  // Creates the service that runs AExePath in service mode, or brings an existing one up to
  // date, and starts it. True when it runs afterwards, also when it already ran.
  virtual bool InstallService(const std::string& AExePath) = 0;
  // Stops and removes the service; nothing happens when there is none.
  virtual void RemoveService() = 0;
};

// What the list of installed programs shows of this program.
struct TUninstallEntry {
  std::string DisplayName;      // "Halvora"
  std::string Publisher;        // "Quenmir Softwares"
  std::string DisplayIcon;      // the installed executable, unquoted
  std::string InstallLocation;  // the installation folder with its trailing separator
  std::string ExePath;          // the installed executable
  std::string UninstallArg;     // the switch that uninstalls, e.g. "/desinstalar"
};

// The entry in the system's list of installed programs.
class IUninstallEntry {
 public:
  virtual ~IUninstallEntry() = default;
  // Writes the entry; a failure to open its place is skipped silently, a failure to write
  // it throws.
  virtual void Write(const TUninstallEntry& AEntry) = 0;
  // Removes the entry; nothing happens when there is none.
  virtual void Remove() = 0;
};

// The policy that lets services raise the secure attention sequence.
class ISasPolicy {
 public:
  virtual ~ISasPolicy() = default;
  // Sets the policy (true) or deletes it (false). May throw; callers ignore failures.
  virtual void SetSasPolicy(bool AEnable) = 0;
};

// The uninstaller's questions and notices to the user.
class IInstallDialogs {
 public:
  virtual ~IInstallDialogs() = default;
  // A Yes/No question; true only for Yes.
  virtual bool Confirm(const std::string& AText) = 0;
  virtual void Inform(const std::string& AText) = 0;
};

// Everything the install and uninstall modes touch, so they run against any root.
struct TInstallContext {
  const ISystemFolders* Folders = nullptr;
  std::string ProgramPath;  // the running executable
  std::shared_ptr<IElevation> Elevation;
  std::shared_ptr<IServiceManager> Services;
  std::shared_ptr<IUninstallEntry> Entry;
  std::shared_ptr<ISasPolicy> Policy;
  IInstallDialogs* Dialogs = nullptr;  // needed by the uninstaller only
  // Pause after the service was removed, so its agent has gone.
  std::function<void(std::uint32_t AMilliseconds)> Sleep;
  // Removes the installation folder (AFolder with its trailing separator), now or once this
  // process has ended; failures are ignored.
  std::function<void(const std::string& AFolder)> RemoveInstallFolder;
};

// This platform's installation parts; ADialogs may be null when only installing.
TInstallContext PlatformInstallContext(IInstallDialogs* ADialogs);

// The arguments of the elevated installer: "/instalar" and the four values, each without
// double quotes.
std::vector<std::string> InstallArguments(const std::string& AServerUrl, const std::string& AId,
                                          const std::string& AKey, const std::string& ABrandCode);

// Starts the program elevated (see IElevation); AExitCode is 1 when it returns false.
bool RunElevated(TInstallContext& AContext, const std::vector<std::string>& AArgs, int& AExitCode);
// Runs the installer elevated with the four values; true when it ended with exit code 0.
bool InstallElevated(TInstallContext& AContext, const std::string& AServerUrl,
                     const std::string& AId, const std::string& AKey,
                     const std::string& ABrandCode);
// The install mode: AArgs is the whole command line, program path first; returns the exit code.
int RunInstall(const std::vector<std::string>& AArgs, TInstallContext& AContext);
// The uninstall mode; elevates itself when it lacks the rights. Returns the exit code.
int RunUninstall(TInstallContext& AContext);

// Installation with this platform's context, as the controller's installer.
class TInstaller final : public IInstaller {
 public:
  bool InstallElevated(const std::string& AServerUrl, const std::string& AId,
                       const std::string& AKey, const std::string& ABrandCode) override {
    TInstallContext Context = PlatformInstallContext(nullptr);
    return halvora::InstallElevated(Context, AServerUrl, AId, AKey, ABrandCode);
  }
};
bool HasServiceManagerAccess(TInstallContext& AContext);
bool InstallService(TInstallContext& AContext);
void RemoveService(TInstallContext& AContext);

}  // namespace halvora
