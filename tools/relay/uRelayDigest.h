#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace halvora::relay {

// SHA-256 (OpenSSL) of the parts one after the other, as 64 lower-case hex digits.
std::string Sha256Hex(std::initializer_list<std::string_view> AParts);

// True when both are equal; the time taken depends on their lengths only.
bool SameSecret(std::string_view ALeft, std::string_view ARight);

// ACount bytes from OpenSSL's generator as hex digits; throws std::runtime_error on failure.
std::string RandomHex(std::size_t ACount);

}  // namespace halvora::relay
