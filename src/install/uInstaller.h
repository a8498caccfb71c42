#pragma once

#include <string>

namespace halvora {

// Installation for all users, elevated.
class IInstaller {
 public:
  virtual ~IInstaller() = default;
  virtual bool InstallElevated(const std::string& AServerUrl, const std::string& AId,
                               const std::string& AKey, const std::string& ABrandCode) = 0;
};

// Exit codes of the install mode.
inline constexpr int InstallOk = 0;
inline constexpr int InstallFailed = 9;  // any failure not covered by a more specific code
// Exit codes of the uninstall mode.
inline constexpr int UninstallOk = 0;
inline constexpr int UninstallNotDone = 1;

// The service mode (see uAgentSupervisor.h): runs the service until it is told to stop;
// false at once, without any message, when the system's service manager did not start
// this process.
bool RunServiceDispatcher();

}  // namespace halvora
