#include "install/uInstaller.h"

namespace halvora {

int RunInstall(const std::vector<std::string>&) { return INSTALL_FAILED; }

int RunUninstall(const std::vector<std::string>&) { return UNINSTALL_NOT_DONE; }

bool RunServiceDispatcher() { return false; }

bool InstallElevated(const std::string&, const std::string&, const std::string&,
                     const std::string&) {
  return false;
}

}  // namespace halvora
