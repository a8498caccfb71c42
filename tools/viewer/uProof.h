#pragma once

#include <string>
#include <string_view>

namespace halvora::viewer {

// The answer to a password challenge: SHA-256 of the UTF-8 text "<nonce>:<password>" as 64
// lower-case hexadecimal digits.
std::string ProofHash(std::string_view ANonce, std::string_view APassword);

}  // namespace halvora::viewer
