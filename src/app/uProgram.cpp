#include "app/uProgram.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/uEntry.h"
#include "app/uPlatform.h"
#include "install/uInstalacao.h"
#include "install/uProcessArguments.h"

namespace halvora {
namespace {

class TModes final : public IEntryModes {
 public:
  TModes(IPlatform& APlatform, std::vector<std::string> AArgs, IProgramDecorator* ADecorator)
      : FPlatform(APlatform), FArgs(std::move(AArgs)), FDecorator(ADecorator) {}

  void RunServiceDispatcher() override { FPlatform.RunServiceDispatcher(); }
  int RunInstall() override { return FPlatform.RunInstall(FArgs); }
  int RunUninstall() override { return FPlatform.RunUninstall(); }

  bool EnsureSingleInstance() override {
    FMarker = FPlatform.NewInstanceMarker();
    return halvora::EnsureSingleInstance(*FMarker, IsInstalled(), [this](const std::string& AText) {
      FPlatform.Inform(AText);
    });
  }

  int RunInteractive() override {
    const bool Agent = IsAgentMode();
    const std::unique_ptr<IDesktop> Desktop = FPlatform.NewDesktop(Agent);
    TMainEnvironment Env;
    Env.Relay.Transports = Desktop->Transports();
    Env.ProgramPath = ProgramFilePath();
    Env.AgentMode = Agent;
    const bool Dev = HasSwitch(SwitchDev);
    Env.DevMode = Dev;
    Env.Services = Desktop->Services();
    Env.View = &Desktop->View();
    Env.Dialogs = &Desktop->Dialogs();
    if (FDecorator) FDecorator->Decorate(Env);
    int Code = 0;
    {
      TfrmMain Controller(std::move(Env));
      Desktop->Attach(Controller);
      if (FDecorator) FDecorator->Attach(Controller);
      // A later copy brings this one forward, but never in the middle of a session.
      FMarker->Listen([&] {
        if (Controller.Model().Caption == IdleCaption) Desktop->View().ShowMainWindow();
      });
      // With the dev switch the ID and password also go to standard output, for a host that
      // runs where nobody sees its window (a demo on a private X server).
      std::string Shown;
      Code = Desktop->Run(!Agent, [&] {
        Controller.tmrTickTimer();
        if (!Dev) return;
        const std::string Now = "Halvora: ID " + Controller.Model().lblId.Text + ", senha " +
                                Controller.Model().lblPassword.Text;
        if (Now != Shown) std::printf("%s\n", (Shown = Now).c_str());
        std::fflush(stdout);
      });
      // Notices stop before the controller goes (its destruction ends the session).
      Desktop->Detach();
    }
    if (FDecorator) FDecorator->Detach();
    MainQueue().Shutdown();
    return Code;
  }

 private:
  IPlatform& FPlatform;
  const std::vector<std::string> FArgs;
  IProgramDecorator* const FDecorator;
  std::unique_ptr<IInstanceMarker> FMarker;
};

}  // namespace

int RunProgram(int& AArgc, char** AArgv, IProgramDecorator* ADecorator) {
  const std::unique_ptr<IPlatform> Platform = NewPlatform(AArgc, AArgv);
  // The platform's own account of the command line: on Windows argv is not UTF-8.
  const std::vector<std::string> Args = ProcessArguments();
  TModes Modes(*Platform, Args, ADecorator);
  return RunEntry(Args, Modes);
}

}  // namespace halvora
