#include "install/linux/uLinuxInstaller.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "install/linux/uServiceHost.h"
#include "install/uInstalacao.h"
#include "install/uInstaller.h"
#include "install/uInstallerFakes.h"

namespace halvora {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TInstallRig;
using test::TTempFolder;
using test::WriteFile;

class TFakeRunner final : public ICommandRunner {
 public:
  int Run(const std::vector<std::string>& AArgv) override {
    std::string Line;
    for (const std::string& Arg : AArgv) Line += (Line.empty() ? "" : " ") + Arg;
    Commands.push_back(Line);
    return Line == FailOn ? 1 : 0;
  }
  std::string FailOn;
  std::vector<std::string> Commands;
};

// Lets a test that does not run as root reach the uninstall steps.
class TGrantedServices final : public IServiceManager {
 public:
  explicit TGrantedServices(std::shared_ptr<IServiceManager> AInner) : FInner(std::move(AInner)) {}
  bool HasAccess() override { return true; }
  bool InstallService(const std::string& AExePath) override {
    return FInner->InstallService(AExePath);
  }
  void RemoveService() override { FInner->RemoveService(); }

 private:
  std::shared_ptr<IServiceManager> FInner;
};

const std::string Key32(32, 'k');
const std::vector<std::string> StartCommands = {"systemctl daemon-reload",
                                                "systemctl enable halvora.service",
                                                "systemctl restart halvora.service"};

TEST(TSystemdServices, WritesTheUnitEnablesAndRestartsIt) {
  TTempFolder Root;
  auto Runner = std::make_shared<TFakeRunner>();
  TSystemdServices Services(Root.Path(""), Runner);
  EXPECT_EQ(Services.UnitPath(), Root.Path("etc/systemd/system/halvora.service"));

  // An existing (running) unit is rewritten and restarted; restart succeeds on a running unit.
  WriteFile(Services.UnitPath(), "[Service]\nExecStart=/old\n");
  ASSERT_TRUE(Services.InstallService("/opt/halvora/halvora"));
  const std::string Unit = ReadFile(Services.UnitPath());
  EXPECT_NE(Unit.find("\nDescription=Mantém o Halvora disponível para o suporte autorizado "
                      "acessar este computador.\n"),
            std::string::npos);
  EXPECT_NE(Unit.find("\nExecStart=\"/opt/halvora/halvora\" /servico\n"), std::string::npos);
  EXPECT_NE(Unit.find("\nWantedBy=multi-user.target\n"), std::string::npos);
  EXPECT_EQ(Unit.find("/old"), std::string::npos);
  EXPECT_EQ(Runner->Commands, StartCommands);

  Runner->Commands.clear();
  Runner->FailOn = "systemctl restart halvora.service";
  EXPECT_FALSE(Services.InstallService("/opt/halvora/halvora"));
}

TEST(TSystemdServices, RemovesAnExistingUnitOnly) {
  TTempFolder Root;
  auto Runner = std::make_shared<TFakeRunner>();
  TSystemdServices Services(Root.Path(""), Runner);
  Services.RemoveService();
  EXPECT_TRUE(Runner->Commands.empty());

  WriteFile(Services.UnitPath(), TSystemdServices::UnitText("/opt/halvora/halvora"));
  Services.RemoveService();
  EXPECT_FALSE(fs::exists(Services.UnitPath()));
  EXPECT_EQ(Runner->Commands, (std::vector<std::string>{"systemctl disable --now halvora.service",
                                                        "systemctl daemon-reload"}));
}

TEST(TDesktopEntry, ListsTheProgramWithItsIconAndAnUninstallAction) {
  TTempFolder Root;
  TDesktopEntry Entry(Root.Path(""));
  const std::string Folder = Root.Path("opt/halvora/");
  Entry.Write({"Halvora", "Quenmir Softwares", Folder + "halvora", Folder, Folder + "halvora",
               "/desinstalar"});
  EXPECT_EQ(Entry.EntryPath(), Root.Path("usr/share/applications/halvora.desktop"));
  const std::string Text = ReadFile(Entry.EntryPath());
  EXPECT_EQ(Text.rfind("[Desktop Entry]\nType=Application\nName=Halvora\n", 0), 0u);
  EXPECT_NE(Text.find("\nIcon=" + Folder + "halvora.png\n"), std::string::npos);
  EXPECT_NE(Text.find("\nActions=Uninstall;\n"), std::string::npos);
  EXPECT_NE(Text.find("[Desktop Action Uninstall]\nName=Remover o Halvora\nExec=\"" + Folder +
                      "halvora\" /desinstalar\n"),
            std::string::npos);
  EXPECT_EQ(ReadFile(Folder + "halvora.png").substr(1, 3), "PNG");

  Entry.Remove();
  EXPECT_FALSE(fs::exists(Entry.EntryPath()));
  Entry.Remove();  // nothing there: no failure
}

TEST(TLinuxInstall, InstallsAndUninstallsUnderAFileSystemRoot) {
  TInstallRig Rig;
  TTempFolder Root;
  auto Runner = std::make_shared<TFakeRunner>();
  auto Systemd = std::make_shared<TSystemdServices>(Root.Path(""), Runner);
  auto Entry = std::make_shared<TDesktopEntry>(Root.Path(""));
  Rig.Context.Services = std::make_shared<TGrantedServices>(Systemd);
  Rig.Context.Entry = Entry;
  Rig.Context.Policy = std::make_shared<TNoSasPolicy>();

  ASSERT_EQ(RunInstall({"p", "/instalar", "u", "1", Key32, "b"}, Rig.Context), 0);
  EXPECT_EQ(Runner->Commands, StartCommands);
  EXPECT_NE(ReadFile(Systemd->UnitPath())
                .find("ExecStart=" + QuoteArg(InstalledExePath(Rig.Folders)) + " /servico"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(Entry->EntryPath()));
  EXPECT_TRUE(IsInstalled(Rig.Folders));
  // The agent runs as the console's user and must read the machine settings.
  EXPECT_NE(fs::status(MachineSettingsPath(Rig.Folders)).permissions() & fs::perms::others_read,
            fs::perms::none);

  Runner->Commands.clear();
  EXPECT_EQ(RunUninstall(Rig.Context), 0);
  EXPECT_EQ(Runner->Commands, (std::vector<std::string>{"systemctl disable --now halvora.service",
                                                        "systemctl daemon-reload"}));
  EXPECT_FALSE(fs::exists(Systemd->UnitPath()));
  EXPECT_FALSE(fs::exists(Entry->EntryPath()));
  EXPECT_FALSE(fs::exists(InstallFolder(Rig.Folders)));
  EXPECT_FALSE(fs::exists(fs::path(MachineSettingsPath(Rig.Folders)).parent_path()));
}

// Sets an environment variable for the test's lifetime.
class TScopedEnv {
 public:
  TScopedEnv(const char* AName, const char* AValue) : FName(AName) {
    if (const char* Old = std::getenv(AName)) FOld = Old;
    FHad = std::getenv(AName) != nullptr;
    if (AValue) {
      setenv(AName, AValue, 1);
    } else {
      unsetenv(AName);
    }
  }
  ~TScopedEnv() {
    if (FHad) {
      setenv(FName, FOld.c_str(), 1);
    } else {
      unsetenv(FName);
    }
  }

 private:
  const char* FName;
  std::string FOld;
  bool FHad = false;
};

TEST(TPkexecElevation, RunsTheProgramThroughPkexecWithTheDisplay) {
  TScopedEnv Display("DISPLAY", ":7");
  TScopedEnv Authority("XAUTHORITY", nullptr);
  TScopedEnv Wayland("WAYLAND_DISPLAY", nullptr);
  TPkexecElevation Elevation("/opt/halvora/halvora");
  EXPECT_EQ(Elevation.CommandLine({"/desinstalar"}),
            (std::vector<std::string>{"pkexec", "env", "DISPLAY=:7", "/opt/halvora/halvora",
                                      "/desinstalar"}));
}

TEST(TPkexecElevation, WithoutPkexecFailsWithExitCodeOne) {
  TTempFolder Empty;
  TScopedEnv Path("PATH", Empty.Path("").c_str());
  TPkexecElevation Elevation("/opt/halvora/halvora");
  int ExitCode = 0;
  EXPECT_FALSE(Elevation.RunElevated({"/desinstalar"}, ExitCode));
  EXPECT_EQ(ExitCode, 1);
}

TEST(TSessionAgentLauncher, StartsNoAgentInASessionWithoutAnXDisplay) {
  TSessionAgentLauncher Launcher("/bin/true");
  EXPECT_FALSE(Launcher.StartAgent("no-such-session"));
  EXPECT_FALSE(Launcher.StartAgent(""));
  EXPECT_FALSE(Launcher.IsAgentAlive());
  Launcher.StopAgent();  // nothing known: nothing happens
  EXPECT_FALSE(Launcher.IsAgentAlive());
}

TEST(TServiceMode, OutsideSystemdTheDispatcherFailsAtOnce) {
  TScopedEnv Invocation("INVOCATION_ID", nullptr);
  EXPECT_FALSE(StartedAsSystemService());
  EXPECT_FALSE(RunServiceDispatcher());
}

}  // namespace
}  // namespace halvora
