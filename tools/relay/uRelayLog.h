#pragma once

#include <string_view>

namespace halvora::relay {

// One line to stderr, prefixed with the program name; lines from several threads never mix.
void Log(std::string_view ALine);

// Silences Log for the whole process (tests run many servers in one process).
void SetLogQuiet(bool AQuiet);

}  // namespace halvora::relay
