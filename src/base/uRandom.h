#pragma once

#include <cstddef>

namespace halvora {

// Fills ABuffer with ACount bytes from the system's cryptographic generator (Linux: getrandom),
// retrying on interrupts and short reads. False on failure, with errno telling why.
bool SystemRandomBytes(void* ABuffer, std::size_t ACount);

}  // namespace halvora
