#include "install/uSecureAttention.h"

#include "install/uInstalacao.h"

namespace halvora {

bool SendSecureAttention() {
  return IsAgentMode() && RaiseSecureAttention();
}

}  // namespace halvora
