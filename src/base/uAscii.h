#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace halvora {

// Text rules of the protocol, the settings and the command line: only ASCII letters fold,
// and blanks are the bytes up to the space (controls included).

char AsciiLower(char AChar);
std::string AsciiLower(std::string_view AText);
// Equal when ASCII letters are compared without regard to case.
bool SameTextAscii(std::string_view ALeft, std::string_view ARight);
std::string_view TrimBlanks(std::string_view AText);
// A decimal integer with an optional sign and nothing else; empty when it is not one or
// does not fit.
std::optional<int> ParseDecimal(std::string_view AText);

}  // namespace halvora
