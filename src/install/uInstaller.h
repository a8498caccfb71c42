#pragma once

#include <string>
#include <vector>

namespace halvora {

// Exit codes of the install mode.
inline constexpr int INSTALL_OK = 0;
inline constexpr int INSTALL_FAILED = 9;  // any failure not covered by a more specific code
// Exit codes of the uninstall mode.
inline constexpr int UNINSTALL_OK = 0;
inline constexpr int UNINSTALL_NOT_DONE = 1;

// The install, uninstall and service modes of the program, and the elevated installation
// the window offers. This platform does not install yet: every one of them reports failure.
int RunInstall(const std::vector<std::string>& AArgs);
int RunUninstall(const std::vector<std::string>& AArgs);
bool RunServiceDispatcher();
bool InstallElevated(const std::string& AServerUrl, const std::string& AId,
                     const std::string& AKey, const std::string& ABrandCode);

}  // namespace halvora
