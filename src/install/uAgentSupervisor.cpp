#include "install/uAgentSupervisor.h"

namespace halvora {

void TAgentSupervisor::StopAgent() {
  FLauncher.StopAgent();
  FAgentSession.clear();
}

void TAgentSupervisor::Pass() {
  const std::string Console = FSessions.ConsoleSession();
  if (FLauncher.IsAgentAlive() && Console != FAgentSession) StopAgent();
  if (!FLauncher.IsAgentAlive()) {
    // Also releases an agent that ended by itself.
    StopAgent();
    if (!Console.empty() && FLauncher.StartAgent(Console)) FAgentSession = Console;
  }
}

void TAgentSupervisor::Run(TEvent& AStop) {
  for (;;) {
    Pass();
    if (FClock.WaitFor(AStop, SupervisionIntervalMs)) break;
  }
  StopAgent();
}

}  // namespace halvora
