#include "install/uProcessArguments.h"

#include <fstream>
#include <iterator>

namespace halvora {

// /proc/self/cmdline holds the arguments, each ended by a NUL.
std::vector<std::string> ProcessArguments() {
  std::ifstream File("/proc/self/cmdline", std::ios::binary);
  const std::string Text((std::istreambuf_iterator<char>(File)), std::istreambuf_iterator<char>());
  std::vector<std::string> Result;
  std::size_t Start = 0;
  while (Start < Text.size()) {
    std::size_t End = Text.find('\0', Start);
    if (End == std::string::npos) End = Text.size();
    Result.emplace_back(Text, Start, End - Start);
    Start = End + 1;
  }
  return Result;
}

}  // namespace halvora
