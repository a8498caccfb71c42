#pragma once

#include <string>
#include <vector>

namespace halvora {

// This process's command line as the platform reports it: the program path first, then
// every argument, each UTF-8.
std::vector<std::string> ProcessArguments();

}  // namespace halvora
