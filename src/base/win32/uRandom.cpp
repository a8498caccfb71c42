#include "base/uRandom.h"

#include <windows.h>
// SystemFunction036 of advapi32, declared there as RtlGenRandom.
#include <ntsecapi.h>

#include <algorithm>
#include <cstdint>

#include "base/win32/uWin32Text.h"

namespace halvora {

bool SystemRandomBytes(void* ABuffer, std::size_t ACount, std::string& AError) {
  auto* Next = static_cast<std::uint8_t*>(ABuffer);
  while (ACount > 0) {
    const ULONG Chunk = static_cast<ULONG>(std::min<std::size_t>(ACount, 1 << 20));
    if (!RtlGenRandom(Next, Chunk)) {
      AError = SystemErrorText(GetLastError());
      return false;
    }
    Next += Chunk;
    ACount -= Chunk;
  }
  return true;
}

}  // namespace halvora
