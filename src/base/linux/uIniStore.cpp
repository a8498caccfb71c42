#include "base/uIniFile.h"

namespace halvora {

std::unique_ptr<IIniStore> OpenIniStore(const std::string& APath) {
  return std::make_unique<TIniTextStore>(APath);
}

}  // namespace halvora
