#pragma once

#include <string>
#include <string_view>

namespace halvora::test {

// SHA-256 of AText as lower-case hex, from the platform's library (OpenSSL, BCrypt): a reference
// for the proofs independent of our own.
std::string Sha256Hex(std::string_view AText);

}  // namespace halvora::test
