#pragma once

#include <cstdint>
#include <string>

#include "base/uClock.h"
#include "base/uEvent.h"

namespace halvora {

// Time between two supervision passes of the service.
inline constexpr std::uint32_t SupervisionIntervalMs = 2000;
// How long a terminated agent is waited for before it is forgotten.
inline constexpr std::uint32_t AgentStopWaitMs = 3000;

// Which session owns the physical console.
class ISessionSource {
 public:
  virtual ~ISessionSource() = default;
  // The console session's id; empty when no session owns the console at the moment.
  virtual std::string ConsoleSession() = 0;
};

// Starts and ends the one agent copy of the program.
class IAgentLauncher {
 public:
  virtual ~IAgentLauncher() = default;
  // Starts the agent in ASession; false when it could not be started (or the session cannot
  // host one). Called only while no agent is known.
  virtual bool StartAgent(const std::string& ASession) = 0;
  // True while a started agent has not ended.
  virtual bool IsAgentAlive() = 0;
  // Ends the agent, if any (terminate, wait at most AgentStopWaitMs, then force), and
  // forgets it.
  virtual void StopAgent() = 0;
};

// Keeps one agent running in the console session until AStop is set: a pass at once and then
// one every SupervisionIntervalMs on AClock; an agent in another session than the console's
// is replaced, one that ended is started again at the next pass (no back-off). Ends the agent
// before it returns.
class TAgentSupervisor {
 public:
  TAgentSupervisor(ISessionSource& ASessions, IAgentLauncher& ALauncher, IClock& AClock)
      : FSessions(ASessions), FLauncher(ALauncher), FClock(AClock) {}

  void Run(TEvent& AStop);
  // One supervision pass.
  void Pass();
  // The session of the running agent; empty when there is none.
  const std::string& AgentSession() const { return FAgentSession; }

 private:
  void StopAgent();

  ISessionSource& FSessions;
  IAgentLauncher& FLauncher;
  IClock& FClock;
  std::string FAgentSession;
};

}  // namespace halvora
