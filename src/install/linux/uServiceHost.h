#pragma once

#include <sys/types.h>

#include <string>

#include "install/uAgentSupervisor.h"

namespace halvora {

// The session logind reports as active on seat0.
class TLogindSessions final : public ISessionSource {
 public:
  std::string ConsoleSession() override;
};

// Starts the agent as the user of an X11 session, on that session's display with the user's
// X authority. Sessions without an X display (Wayland, text consoles) get no agent.
class TSessionAgentLauncher final : public IAgentLauncher {
 public:
  explicit TSessionAgentLauncher(std::string AExePath) : FExePath(std::move(AExePath)) {}
  ~TSessionAgentLauncher() override { StopAgent(); }

  bool StartAgent(const std::string& ASession) override;
  bool IsAgentAlive() override;
  void StopAgent() override;

 private:
  std::string FExePath;
  pid_t FPid = -1;
  bool FEnded = false;  // FPid ended and was reaped
};

// Whether systemd started this process as a system service: systemd gives every service it
// starts an INVOCATION_ID, and a service's main process is a child of the manager (PID 1).
// Both are checked, as children of services (a user's terminal) inherit INVOCATION_ID.
bool StartedAsSystemService();

}  // namespace halvora
