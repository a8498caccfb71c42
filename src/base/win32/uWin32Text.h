#pragma once

#include <string>
#include <string_view>

namespace halvora {

// UTF-8 to the UTF-16 of the Win32 calls and back; malformed input becomes U+FFFD.
std::wstring Utf8ToWide(std::string_view AUtf8);
std::string WideToUtf8(std::wstring_view AWide);

// The system's description of a Win32 error code, without the line end it comes with.
std::string SystemErrorText(unsigned long AError);

}  // namespace halvora
