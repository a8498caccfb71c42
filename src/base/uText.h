#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace halvora {

// UTF-8 / UTF-16 conversions that never fail. UTF-8 is decoded strictly (no overlong forms,
// no surrogates, nothing above U+10FFFF); each maximal invalid subpart becomes one U+FFFD.

// ABytes with every malformed sequence replaced by U+FFFD; valid input comes back unchanged.
std::string SanitizeUtf8(std::string_view ABytes);

// The UTF-16 form of AUtf8, malformed sequences read as SanitizeUtf8 reads them.
std::u16string Utf8ToUtf16(std::string_view AUtf8);

// The UTF-8 form of AUtf16; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view AUtf16);

// Utf8ToUtf16(AUtf8).size(), without building the UTF-16 text.
std::size_t Utf16Length(std::string_view AUtf8);

// ASize bytes at AData as lower-case hexadecimal digits, two per byte.
std::string HexText(const void* AData, std::size_t ASize);

}  // namespace halvora
