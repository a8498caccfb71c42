#include "install/uProcessArguments.h"

#include <unistd.h>

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

// /proc/self/exe links to the program's file; readlink does not say when it cut the path
// short, so a result that fills the buffer is read again into a larger one.
std::string ProgramFilePath() {
  std::string Buffer(256, '\0');
  while (Buffer.size() <= (1u << 20)) {
    const ssize_t Length = readlink("/proc/self/exe", Buffer.data(), Buffer.size());
    if (Length < 0) return {};
    if (static_cast<std::size_t>(Length) < Buffer.size()) {
      Buffer.resize(static_cast<std::size_t>(Length));
      return Buffer;
    }
    Buffer.resize(Buffer.size() * 2);
  }
  return {};
}

}  // namespace halvora
