#include "app/uEntry.h"

#include "install/uInstalacao.h"

namespace halvora {

int RunEntry(const std::vector<std::string>& AArgs, IEntryModes& AModes) {
  if (HasSwitchIn(AArgs, SwitchServico)) {
    AModes.RunServiceDispatcher();
    return 0;
  }
  if (HasSwitchIn(AArgs, SwitchInstalar)) return AModes.RunInstall();
  if (HasSwitchIn(AArgs, SwitchDesinstalar)) return AModes.RunUninstall();
  if (!AModes.EnsureSingleInstance()) return 0;
  return AModes.RunInteractive();
}

}  // namespace halvora
