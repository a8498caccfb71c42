#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/uClock.h"
#include "install/uInstallerSteps.h"

namespace halvora {

// Runs a program and reports how it ended.
class ICommandRunner {
 public:
  virtual ~ICommandRunner() = default;
  // Runs AArgv (the program looked up in PATH) and waits for it; its exit code, or -1 when
  // it could not be started or did not end normally.
  virtual int Run(const std::vector<std::string>& AArgv) = 0;
};

std::shared_ptr<ICommandRunner> NewCommandRunner();

// Elevation through pkexec. The display variables go along, so the elevated copy can ask
// and inform the user. pkexec missing, the prompt dismissed or the user not authorised: false.
class TPkexecElevation final : public IElevation {
 public:
  explicit TPkexecElevation(std::string AProgramPath, IClock& AClock = SystemClock())
      : FProgramPath(std::move(AProgramPath)), FClock(AClock) {}
  bool RunElevated(const std::vector<std::string>& AArgs, int& AExitCode) override;

  // The command line pkexec is started with.
  std::vector<std::string> CommandLine(const std::vector<std::string>& AArgs) const;

 private:
  std::string FProgramPath;
  IClock& FClock;
};

// The service as the systemd unit halvora.service under ARoot ("/" on the real system).
class TSystemdServices final : public IServiceManager {
 public:
  TSystemdServices(std::string ARoot, std::shared_ptr<ICommandRunner> ARunner)
      : FRoot(std::move(ARoot)), FRunner(std::move(ARunner)) {}
  // Only root may change system units.
  bool HasAccess() override;
  bool InstallService(const std::string& AExePath) override;
  void RemoveService() override;

  std::string UnitPath() const;
  static std::string UnitText(const std::string& AExePath);

 private:
  bool Systemctl(const std::vector<std::string>& AArgs);

  std::string FRoot;
  std::shared_ptr<ICommandRunner> FRunner;
};

// The entry in the desktop's application list: the desktop file halvora.desktop under
// ARoot's usr/share/applications/, with the program's icon written into the installation
// folder and an action that uninstalls.
class TDesktopEntry final : public IUninstallEntry {
 public:
  explicit TDesktopEntry(std::string ARoot) : FRoot(std::move(ARoot)) {}
  void Write(const TUninstallEntry& AEntry) override;
  void Remove() override;

  std::string EntryPath() const;
  static std::string EntryText(const TUninstallEntry& AEntry, const std::string& AIconPath);

 private:
  std::string FRoot;
};

// No policy stands between services and the secure attention sequence here: nothing to set.
class TNoSasPolicy final : public ISasPolicy {
 public:
  void SetSasPolicy(bool) override {}
};

}  // namespace halvora
