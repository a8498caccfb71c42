#include "install/linux/uLinuxInstaller.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "base/uBytes.h"
#include "base/uClock.h"
#include "base/uFiles.h"
#include "install/uInstalacao.h"
#include "install/uProcessArguments.h"

extern char** environ;

namespace halvora {

const TIdBytes& InstallIconPng();

namespace {

namespace fs = std::filesystem;

constexpr const char* UnitName = "halvora.service";
constexpr const char* ServiceDescription =
    "Mantém o Halvora disponível para o suporte autorizado acessar este computador.";
constexpr std::uint32_t ElevatedWaitMs = 120000;
constexpr std::uint32_t ElevatedPollMs = 50;
// pkexec's own exit codes: the prompt was dismissed, or the user is not authorised.
constexpr int PkexecDismissed = 126;
constexpr int PkexecNotAuthorized = 127;

std::vector<char*> ArgvOf(std::vector<std::string>& AArgs) {
  std::vector<char*> Result;
  for (std::string& Arg : AArgs) Result.push_back(Arg.data());
  Result.push_back(nullptr);
  return Result;
}

// Starts AArgv; the process id, or -1.
pid_t Spawn(std::vector<std::string> AArgv) {
  std::vector<char*> Argv = ArgvOf(AArgv);
  pid_t Pid = -1;
  if (posix_spawnp(&Pid, Argv[0], nullptr, nullptr, Argv.data(), environ) != 0) return -1;
  return Pid;
}

int ExitCodeOf(int AStatus) {
  return WIFEXITED(AStatus) ? WEXITSTATUS(AStatus) : -1;
}

int WaitExit(pid_t APid) {
  int Status = 0;
  while (waitpid(APid, &Status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return ExitCodeOf(Status);
}

class TCommandRunner final : public ICommandRunner {
 public:
  int Run(const std::vector<std::string>& AArgv) override {
    const pid_t Pid = Spawn(AArgv);
    return Pid < 0 ? -1 : WaitExit(Pid);
  }
};

std::string EnvValue(const char* AName) {
  const char* Value = std::getenv(AName);
  return Value ? std::string(Value) : std::string();
}

std::string Under(const std::string& ARoot, const std::string& ARelative) {
  return (!ARoot.empty() && ARoot.back() == '/') ? ARoot + ARelative : ARoot + "/" + ARelative;
}

void WriteReadable(const std::string& APath, std::string_view AContent) {
  std::error_code Error;
  fs::create_directories(PathOf(APath).parent_path(), Error);
  ReplaceFile(APath, AContent);
  fs::permissions(PathOf(APath),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                      fs::perms::others_read,
                  Error);
}

}  // namespace

std::shared_ptr<ICommandRunner> NewCommandRunner() {
  return std::make_shared<TCommandRunner>();
}

std::vector<std::string> TPkexecElevation::CommandLine(
    const std::vector<std::string>& AArgs) const {
  // pkexec clears the environment; env puts the display back for the elevated copy.
  std::vector<std::string> Result{"pkexec", "env"};
  for (const char* Name : {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY"}) {
    const std::string Value = EnvValue(Name);
    if (!Value.empty()) Result.push_back(std::string(Name) + "=" + Value);
  }
  Result.push_back(FProgramPath);
  Result.insert(Result.end(), AArgs.begin(), AArgs.end());
  return Result;
}

bool TPkexecElevation::RunElevated(const std::vector<std::string>& AArgs, int& AExitCode) {
  AExitCode = 1;
  if (FProgramPath.empty()) return false;
  const pid_t Pid = Spawn(CommandLine(AArgs));
  if (Pid < 0) return false;
  const std::uint32_t Start = FClock.GetTickCount();
  TEvent Never(true, false);
  for (;;) {
    int Status = 0;
    const pid_t Done = waitpid(Pid, &Status, WNOHANG);
    if (Done == Pid) {
      const int Code = ExitCodeOf(Status);
      if (Code == PkexecDismissed || Code == PkexecNotAuthorized) return false;
      AExitCode = Code < 0 ? 1 : Code;
      return true;
    }
    if (Done < 0 && errno != EINTR) return false;
    if (FClock.GetTickCount() - Start >= ElevatedWaitMs) {
      // The elevated copy goes on; it is reaped when this process ends.
      AExitCode = ElevatedStillRunning;
      return true;
    }
    FClock.WaitFor(Never, ElevatedPollMs);
  }
}

bool TSystemdServices::HasAccess() {
  return geteuid() == 0;
}

std::string TSystemdServices::UnitPath() const {
  return Under(FRoot, std::string("etc/systemd/system/") + UnitName);
}

std::string TSystemdServices::UnitText(const std::string& AExePath) {
  std::string Text = "# Halvora - acesso remoto\n";
  Text += "# Keeps the agent running in the X11 session that owns seat0; Wayland sessions\n";
  Text += "# and text consoles get no agent.\n";
  Text += "[Unit]\n";
  Text += std::string("Description=") + ServiceDescription + "\n";
  Text += "After=systemd-logind.service\n\n";
  Text += "[Service]\nType=simple\n";
  Text += "ExecStart=" + QuoteArg(AExePath) + " /" + std::string(SwitchServico) + "\n\n";
  Text += "[Install]\nWantedBy=multi-user.target\n";
  return Text;
}

bool TSystemdServices::Systemctl(const std::vector<std::string>& AArgs) {
  std::vector<std::string> Argv{"systemctl"};
  Argv.insert(Argv.end(), AArgs.begin(), AArgs.end());
  return FRunner->Run(Argv) == 0;
}

bool TSystemdServices::InstallService(const std::string& AExePath) {
  try {
    WriteReadable(UnitPath(), UnitText(AExePath));
  } catch (const std::exception&) {
    return false;
  }
  // restart starts a stopped unit and restarts a running one with the new definition.
  return Systemctl({"daemon-reload"}) && Systemctl({"enable", UnitName}) &&
         Systemctl({"restart", UnitName});
}

void TSystemdServices::RemoveService() {
  std::error_code Error;
  if (!fs::exists(PathOf(UnitPath()), Error)) return;
  Systemctl({"disable", "--now", UnitName});
  fs::remove(PathOf(UnitPath()), Error);
  Systemctl({"daemon-reload"});
}

std::string TDesktopEntry::EntryPath() const {
  return Under(FRoot, "usr/share/applications/halvora.desktop");
}

std::string TDesktopEntry::EntryText(const TUninstallEntry& AEntry, const std::string& AIconPath) {
  const std::string Exec = QuoteArg(AEntry.ExePath);
  std::string Text = "[Desktop Entry]\nType=Application\n";
  Text += "Name=" + AEntry.DisplayName + "\n";
  Text += "Icon=" + AIconPath + "\n";
  Text += "Exec=" + Exec + "\n";
  Text += "Path=" + AEntry.InstallLocation + "\n";
  Text += "Categories=Network;RemoteAccess;\n";
  Text += "X-Publisher=" + AEntry.Publisher + "\n";
  Text += "Actions=Uninstall;\n\n";
  Text += "[Desktop Action Uninstall]\nName=Remover o Halvora\n";
  Text += "Exec=" + Exec + " " + AEntry.UninstallArg + "\n";
  return Text;
}

void TDesktopEntry::Write(const TUninstallEntry& AEntry) {
  const std::string IconPath = AEntry.InstallLocation + "halvora.png";
  const TIdBytes& Icon = InstallIconPng();
  WriteReadable(IconPath,
                std::string_view(reinterpret_cast<const char*>(Icon.data()), Icon.size()));
  WriteReadable(EntryPath(), EntryText(AEntry, IconPath));
}

void TDesktopEntry::Remove() {
  std::error_code Error;
  fs::remove(PathOf(EntryPath()), Error);
}

TInstallContext PlatformInstallContext(IInstallDialogs* ADialogs) {
  TInstallContext Context;
  Context.Folders = &SystemFolders();
  Context.ProgramPath = ProgramFilePath();
  Context.Elevation = std::make_shared<TPkexecElevation>(Context.ProgramPath);
  Context.Services = std::make_shared<TSystemdServices>("/", NewCommandRunner());
  Context.Entry = std::make_shared<TDesktopEntry>("/");
  Context.Policy = std::make_shared<TNoSasPolicy>();
  Context.Dialogs = ADialogs;
  Context.Sleep = [](std::uint32_t AMilliseconds) {
    TEvent Never(true, false);
    SystemClock().WaitFor(Never, AMilliseconds);
  };
  // A running program's file can be deleted here, so the folder goes at once.
  Context.RemoveInstallFolder = [](const std::string& AFolder) {
    std::error_code Error;
    fs::remove_all(PathOf(AFolder), Error);
  };
  return Context;
}

}  // namespace halvora
