#pragma once

#include <string>
#include <string_view>

namespace halvora::test {

// SHA-256 of AText as lower-case hex, straight from OpenSSL: a reference for the proofs.
std::string Sha256Hex(std::string_view AText);

}  // namespace halvora::test
