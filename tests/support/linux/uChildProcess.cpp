#include "support/linux/uChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace halvora::test {
namespace {

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& AOverrides) {
  std::map<std::string, std::string> Entries;
  auto Add = [&](const std::string& AEntry) {
    const auto Eq = AEntry.find('=');
    Entries[AEntry.substr(0, Eq)] = AEntry;
  };
  for (char** E = environ; *E; ++E) Add(*E);
  for (const std::string& Entry : AOverrides) Add(Entry);
  std::vector<std::string> Result;
  for (auto& [Name, Entry] : Entries) Result.push_back(std::move(Entry));
  return Result;
}

std::vector<char*> Pointers(std::vector<std::string>& AStrings) {
  std::vector<char*> Result;
  for (std::string& S : AStrings) Result.push_back(S.data());
  Result.push_back(nullptr);
  return Result;
}

}  // namespace

TChildProcess::TChildProcess(const std::string& AProgram, const std::vector<std::string>& AArgs,
                             const std::vector<std::string>& AEnvironment,
                             const std::string& AStdoutFile) {
  Start(AProgram, AArgs, AEnvironment, AStdoutFile, false);
}

TChildProcess::TChildProcess(TPiped, const std::string& AProgram,
                             const std::vector<std::string>& AArgs,
                             const std::vector<std::string>& AEnvironment) {
  Start(AProgram, AArgs, AEnvironment, {}, true);
}

void TChildProcess::Start(const std::string& AProgram, const std::vector<std::string>& AArgs,
                          const std::vector<std::string>& AEnvironment,
                          const std::string& AStdoutFile, bool APiped) {
  std::vector<std::string> Argv{AProgram};
  Argv.insert(Argv.end(), AArgs.begin(), AArgs.end());
  std::vector<std::string> Env = MergedEnvironment(AEnvironment);
  std::vector<char*> ArgvPtr = Pointers(Argv), EnvPtr = Pointers(Env);

  // The child's ends become its standard input and output; no other child inherits any end.
  int In[2] = {-1, -1}, Out[2] = {-1, -1};
  if (APiped && (pipe2(In, O_CLOEXEC) != 0 || pipe2(Out, O_CLOEXEC) != 0)) {
    for (const int Fd : {In[0], In[1]})
      if (Fd >= 0) close(Fd);
    throw std::runtime_error(std::string("pipe failed: ") + std::strerror(errno));
  }

  // Everything the child needs is prepared before fork: after it, only calls that are safe
  // in a copy of a multi-threaded process.
  const char* Output = AStdoutFile.empty() ? nullptr : AStdoutFile.c_str();
  const pid_t Parent = getpid();
  FPid = fork();
  if (FPid < 0) {
    const int Error = errno;
    for (const int Fd : {In[0], In[1], Out[0], Out[1]})
      if (Fd >= 0) close(Fd);
    throw std::runtime_error(std::string("fork failed: ") + std::strerror(Error));
  }
  if (FPid == 0) {
    // A test that dies (a crash, a time-out) takes its programs with it.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != Parent) _exit(127);
    if (Output) {
      const int Fd = open(Output, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      if (Fd < 0 || dup2(Fd, STDOUT_FILENO) < 0) _exit(127);
    }
    if (APiped && (dup2(In[0], STDIN_FILENO) < 0 || dup2(Out[1], STDOUT_FILENO) < 0)) _exit(127);
    execve(AProgram.c_str(), ArgvPtr.data(), EnvPtr.data());
    _exit(127);
  }
  if (APiped) {
    close(In[0]);
    close(Out[1]);
    FInput = In[1];
    FOutput = Out[0];
  }
}

TChildProcess::~TChildProcess() {
  for (const int Fd : {FInput, FOutput})
    if (Fd >= 0) close(Fd);
  if (!Running()) return;
  // A polite stop first, so an X server removes its lock files.
  Kill(SIGTERM);
  if (Wait(std::chrono::seconds(3))) return;
  Kill(SIGKILL);
  Reap(0);
}

void TChildProcess::CloseInput() {
  if (FInput >= 0) close(FInput);
  FInput = -1;
}

bool TChildProcess::Reap(int AOptions) {
  if (FExitCode) return true;
  int Status = 0;
  if (waitpid(FPid, &Status, AOptions) != FPid) return false;
  FExitCode = WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
  return true;
}

bool TChildProcess::Running() {
  return !Reap(WNOHANG);
}

std::optional<int> TChildProcess::Wait(std::chrono::milliseconds ATimeout) {
  const auto Deadline = std::chrono::steady_clock::now() + ATimeout;
  while (!Reap(WNOHANG)) {
    if (std::chrono::steady_clock::now() >= Deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return FExitCode;
}

void TChildProcess::Kill(int ASignal) {
  if (!FExitCode) ::kill(FPid, ASignal);
}

std::unique_ptr<TChildProcess> StartReportingLine(
    const std::string& AProgram,
    const std::function<std::vector<std::string>(const std::string& AFd)>& AArgs,
    std::string& ALine) {
  int Pipe[2];
  if (pipe(Pipe) != 0) throw std::runtime_error("pipe failed");
  fcntl(Pipe[0], F_SETFD, FD_CLOEXEC);
  std::unique_ptr<TChildProcess> Child;
  try {
    Child = std::make_unique<TChildProcess>(AProgram, AArgs(std::to_string(Pipe[1])));
  } catch (...) {
    close(Pipe[0]);
    close(Pipe[1]);
    throw;
  }
  close(Pipe[1]);
  ALine.clear();
  pollfd Wait{Pipe[0], POLLIN, 0};
  char C;
  while (poll(&Wait, 1, 20000) == 1 && read(Pipe[0], &C, 1) == 1 && C != '\n') ALine += C;
  close(Pipe[0]);
  return Child;
}

}  // namespace halvora::test
