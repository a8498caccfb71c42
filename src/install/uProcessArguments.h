#pragma once

#include <string>
#include <vector>

namespace halvora {

// This process's command line as the platform reports it: the program path first, then
// every argument, each UTF-8.
std::vector<std::string> ProcessArguments();

// The full path of this program's own file, UTF-8; empty when the platform cannot tell.
std::string ProgramFilePath();

}  // namespace halvora
