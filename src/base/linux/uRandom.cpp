#include "base/uRandom.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace halvora {

bool SystemRandomBytes(void* ABuffer, std::size_t ACount, std::string& AError) {
  auto* Next = static_cast<std::uint8_t*>(ABuffer);
  while (ACount > 0) {
    const ssize_t Read = getrandom(Next, ACount, 0);
    if (Read < 0) {
      if (errno == EINTR) continue;
      AError = std::system_category().message(errno);
      return false;
    }
    Next += Read;
    ACount -= static_cast<std::size_t>(Read);
  }
  return true;
}

}  // namespace halvora
