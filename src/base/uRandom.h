#pragma once

#include <cstddef>
#include <string>

namespace halvora {

// Fills ABuffer with ACount bytes from the system's cryptographic generator (Linux: getrandom;
// Windows: SystemFunction036). False on failure, with AError saying why.
bool SystemRandomBytes(void* ABuffer, std::size_t ACount, std::string& AError);

}  // namespace halvora
