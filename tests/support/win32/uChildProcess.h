#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace halvora::test {

// Runs the program at AProgram (UTF-8) with the command line that CommandLineToArgvW splits
// back into AArgs and waits for it. AArgs[0] is the program's name as the child sees it, which
// may not hold a double quote. Returns its exit code, or -1 when it could not be started or had
// not ended within ATimeout (it is then killed: the time-out is a guard against hangs).
int RunProgram(const std::string& AProgram, const std::vector<std::string>& AArgs,
               std::chrono::milliseconds ATimeout = std::chrono::seconds(60));

// The full path of this test program (UTF-8).
std::string ThisProgram();

// What a child's test ends with, given whether its checks failed: the exit code
// ChildSucceeded when they held, 1 when not, so that a filter that matched no test (exit code
// 0) does not pass for a success.
inline constexpr int ChildSucceeded = 42;
[[noreturn]] void EndChild(bool AFailed);

}  // namespace halvora::test
