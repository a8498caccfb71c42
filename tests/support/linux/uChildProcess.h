#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/uWaitUntil.h"

namespace halvora::test {

// A program started by a test. It is stopped (SIGTERM, then SIGKILL) and reaped when the
// object goes, so a failing test leaves no process behind.
class TChildProcess {
 public:
  // Starts AProgram with AArgs (without the program itself), the test's environment plus
  // AEnvironment ("NAME=value" entries override). Standard output goes to AStdoutFile when
  // one is named, else it is inherited. Throws when no process can be made; a program that
  // cannot be run exits with 127.
  TChildProcess(const std::string& AProgram, const std::vector<std::string>& AArgs,
                const std::vector<std::string>& AEnvironment = {},
                const std::string& AStdoutFile = {});
  // As above, with standard input and output through pipes: the test writes to InputFd and
  // reads OutputFd, which stay open as long as the object.
  struct TPiped {};
  TChildProcess(TPiped, const std::string& AProgram, const std::vector<std::string>& AArgs,
                const std::vector<std::string>& AEnvironment = {});
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  pid_t Pid() const { return FPid; }
  int InputFd() const { return FInput; }
  int OutputFd() const { return FOutput; }
  void CloseInput();  // the program reads the end of its input
  bool Running();
  // The exit code once the program ended within ATimeout; a signal counts as 128 + its
  // number. Empty on timeout.
  std::optional<int> Wait(std::chrono::milliseconds ATimeout);
  void Kill(int ASignal);

 private:
  void Start(const std::string& AProgram, const std::vector<std::string>& AArgs,
             const std::vector<std::string>& AEnvironment, const std::string& AStdoutFile,
             bool APiped);
  bool Reap(int AOptions);

  pid_t FPid = -1;
  int FInput = -1, FOutput = -1;  // the test's ends of the pipes, when piped
  std::optional<int> FExitCode;
};

// Starts AProgram with the arguments AArgs makes from the number of a pipe's write end, which
// the program inherits, and reads the first line it writes there into ALine (empty when none
// comes within 20 s): how servers that choose their own address report it.
std::unique_ptr<TChildProcess> StartReportingLine(
    const std::string& AProgram,
    const std::function<std::vector<std::string>(const std::string& AFd)>& AArgs,
    std::string& ALine);

}  // namespace halvora::test
