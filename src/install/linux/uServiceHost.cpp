#include "install/linux/uServiceHost.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "base/uClock.h"
#include "base/uThread.h"
#include "install/uInstalacao.h"
#include "install/uInstaller.h"
#include "install/uProcessArguments.h"

namespace halvora {
namespace {

constexpr const char* ConsoleSeat = "seat0";
constexpr std::uint32_t StopPollMs = 50;

// A string logind allocated, freed with the object.
struct TSdString {
  char* Value = nullptr;
  ~TSdString() { std::free(Value); }
  std::string Text() const { return Value ? std::string(Value) : std::string(); }
};

struct TUser {
  std::string Name;
  std::string Home;
  std::string Shell;
  uid_t Uid = 0;
  gid_t Gid = 0;
  std::vector<gid_t> Groups;
};

bool LookUpUser(uid_t AUid, TUser& AUser) {
  std::vector<char> Buffer(16384);
  passwd Entry{};
  passwd* Found = nullptr;
  int Error;
  while ((Error = getpwuid_r(AUid, &Entry, Buffer.data(), Buffer.size(), &Found)) == ERANGE &&
         Buffer.size() < (1u << 20)) {
    Buffer.resize(Buffer.size() * 2);
  }
  if (Error != 0 || !Found) return false;
  AUser.Name = Found->pw_name ? Found->pw_name : "";
  AUser.Home = Found->pw_dir ? Found->pw_dir : "";
  AUser.Shell = Found->pw_shell ? Found->pw_shell : "";
  AUser.Uid = Found->pw_uid;
  AUser.Gid = Found->pw_gid;
  int Count = 32;
  for (int Attempt = 0; Attempt < 8; ++Attempt) {
    AUser.Groups.resize(static_cast<std::size_t>(Count));
    int Got = Count;
    if (getgrouplist(AUser.Name.c_str(), AUser.Gid, AUser.Groups.data(), &Got) >= 0) {
      AUser.Groups.resize(static_cast<std::size_t>(Got));
      return true;
    }
    Count = Got > Count ? Got : Count * 2;
  }
  AUser.Groups.assign(1, AUser.Gid);
  return true;
}

// The environment of a process, as NAME -> value.
std::map<std::string, std::string> EnvironmentOf(pid_t APid) {
  std::ifstream File("/proc/" + std::to_string(APid) + "/environ", std::ios::binary);
  const std::string Text((std::istreambuf_iterator<char>(File)), std::istreambuf_iterator<char>());
  std::map<std::string, std::string> Result;
  std::size_t Start = 0;
  while (Start < Text.size()) {
    std::size_t End = Text.find('\0', Start);
    if (End == std::string::npos) End = Text.size();
    const std::string Entry = Text.substr(Start, End - Start);
    const std::size_t Equals = Entry.find('=');
    if (Equals != std::string::npos)
      Result.emplace(Entry.substr(0, Equals), Entry.substr(Equals + 1));
    Start = End + 1;
  }
  return Result;
}

// The environment of a process of AUid in ASession that knows its X authority: logind does
// not keep it, the session's own programs do.
std::map<std::string, std::string> SessionEnvironment(const std::string& ASession, uid_t AUid) {
  DIR* Proc = opendir("/proc");
  if (!Proc) return {};
  std::map<std::string, std::string> Result;
  while (dirent* Entry = readdir(Proc)) {
    char* End = nullptr;
    const long Pid = std::strtol(Entry->d_name, &End, 10);
    if (Pid <= 0 || !End || *End != '\0') continue;
    uid_t Owner = 0;
    TSdString Session;
    if (sd_pid_get_owner_uid(static_cast<pid_t>(Pid), &Owner) < 0 || Owner != AUid) continue;
    if (sd_pid_get_session(static_cast<pid_t>(Pid), &Session.Value) < 0 ||
        Session.Text() != ASession) {
      continue;
    }
    auto Environment = EnvironmentOf(static_cast<pid_t>(Pid));
    if (Environment.count("XAUTHORITY")) {
      Result = std::move(Environment);
      break;
    }
  }
  closedir(Proc);
  return Result;
}

std::string FolderOf(const std::string& APath) {
  const std::size_t Slash = APath.find_last_of('/');
  return Slash == std::string::npos ? std::string("/") : APath.substr(0, Slash + 1);
}

// Runs TAgentSupervisor until the stop event is set.
class TSupervisorThread final : public TThread {
 public:
  TSupervisorThread(TAgentSupervisor& ASupervisor, TEvent& AStop)
      : FSupervisor(ASupervisor), FStop(AStop) {}
  ~TSupervisorThread() override { StopThread(); }

 protected:
  void Execute() override {
    try {
      FSupervisor.Run(FStop);
    } catch (...) {
    }
  }

 private:
  TAgentSupervisor& FSupervisor;
  TEvent& FStop;
};

// This program's file. An installation that replaced the file while the service ran leaves
// the kernel naming the old one "<path> (deleted)"; the agent is started from the new one.
std::string ServiceProgramPath() {
  static constexpr std::string_view Deleted = " (deleted)";
  std::string Path = ProgramFilePath();
  if (Path.size() > Deleted.size() &&
      Path.compare(Path.size() - Deleted.size(), Deleted.size(), Deleted) == 0) {
    Path.resize(Path.size() - Deleted.size());
  }
  return Path;
}

}  // namespace

std::string TLogindSessions::ConsoleSession() {
  TSdString Session;
  if (sd_seat_get_active(ConsoleSeat, &Session.Value, nullptr) < 0) return {};
  return Session.Text();
}

bool TSessionAgentLauncher::StartAgent(const std::string& ASession) {
  if (FExePath.empty() || ASession.empty()) return false;
  TSdString Type;
  TSdString Display;
  uid_t Uid = 0;
  if (sd_session_get_type(ASession.c_str(), &Type.Value) < 0 || Type.Text() != "x11") return false;
  if (sd_session_get_display(ASession.c_str(), &Display.Value) < 0 || Display.Text().empty()) {
    return false;
  }
  if (sd_session_get_uid(ASession.c_str(), &Uid) < 0) return false;
  TUser User;
  if (!LookUpUser(Uid, User)) return false;

  // Everything the child needs is prepared here: after fork only async-signal-safe calls.
  std::map<std::string, std::string> Env = SessionEnvironment(ASession, Uid);
  std::map<std::string, std::string> Wanted;
  for (const char* Name :
       {"LANG", "LANGUAGE", "LC_ALL", "LC_CTYPE", "LC_MESSAGES", "DBUS_SESSION_BUS_ADDRESS",
        "XDG_RUNTIME_DIR", "XDG_CURRENT_DESKTOP", "XAUTHORITY"}) {
    const auto It = Env.find(Name);
    if (It != Env.end()) Wanted[Name] = It->second;
  }
  if (!Wanted.count("XAUTHORITY")) Wanted["XAUTHORITY"] = User.Home + "/.Xauthority";
  Wanted["DISPLAY"] = Display.Text();
  Wanted["HOME"] = User.Home;
  Wanted["USER"] = User.Name;
  Wanted["LOGNAME"] = User.Name;
  Wanted["SHELL"] = User.Shell;
  Wanted["PATH"] = "/usr/local/bin:/usr/bin:/bin";
  Wanted["XDG_SESSION_ID"] = ASession;
  Wanted["XDG_SEAT"] = ConsoleSeat;
  std::vector<std::string> EnvText;
  for (const auto& [Name, Value] : Wanted) EnvText.push_back(Name + "=" + Value);
  std::vector<char*> EnvP;
  for (std::string& Entry : EnvText) EnvP.push_back(Entry.data());
  EnvP.push_back(nullptr);
  std::string Exe = FExePath;
  std::string Switch = "/" + std::string(SwitchAgente);
  char* Argv[] = {Exe.data(), Switch.data(), nullptr};
  const std::string WorkFolder = FolderOf(FExePath);

  const pid_t Pid = fork();
  if (Pid < 0) return false;
  if (Pid == 0) {
    sigset_t None;
    sigemptyset(&None);
    sigprocmask(SIG_SETMASK, &None, nullptr);  // the service blocks its stop signals
    setsid();
    if (setgroups(User.Groups.size(), User.Groups.data()) != 0 || setgid(User.Gid) != 0 ||
        setuid(User.Uid) != 0) {
      _exit(127);
    }
    if (chdir(WorkFolder.c_str()) != 0) _exit(127);
    execve(Exe.c_str(), Argv, EnvP.data());
    _exit(127);
  }
  FPid = Pid;
  FEnded = false;
  return true;
}

bool TSessionAgentLauncher::IsAgentAlive() {
  if (FPid <= 0 || FEnded) return false;
  int Status = 0;
  const pid_t Done = waitpid(FPid, &Status, WNOHANG);
  if (Done == FPid || (Done < 0 && errno == ECHILD)) FEnded = true;
  return !FEnded;
}

void TSessionAgentLauncher::StopAgent() {
  if (FPid > 0 && IsAgentAlive()) {
    kill(FPid, SIGTERM);
    TEvent Never(true, false);
    for (std::uint32_t Waited = 0; Waited < AgentStopWaitMs && IsAgentAlive();
         Waited += StopPollMs) {
      SystemClock().WaitFor(Never, StopPollMs);
    }
    if (IsAgentAlive()) {
      kill(FPid, SIGKILL);
      int Status = 0;
      while (waitpid(FPid, &Status, 0) < 0 && errno == EINTR) {
      }
    }
  }
  FPid = -1;
  FEnded = false;
}

bool StartedAsSystemService() {
  const char* Invocation = std::getenv("INVOCATION_ID");
  return Invocation && *Invocation && getppid() == 1;
}

bool RunServiceDispatcher() {
  if (!StartedAsSystemService()) return false;
  // systemd stops the service with SIGTERM; the main thread takes it, as the control handler.
  // The signals are blocked before any thread starts, so none of them takes it instead.
  sigset_t Stops;
  sigemptyset(&Stops);
  sigaddset(&Stops, SIGTERM);
  sigaddset(&Stops, SIGINT);
  pthread_sigmask(SIG_BLOCK, &Stops, nullptr);

  TEvent Stop(true, false);
  TLogindSessions Sessions;
  TSessionAgentLauncher Launcher(ServiceProgramPath());
  TAgentSupervisor Supervisor(Sessions, Launcher, SystemClock());
  {
    TSupervisorThread Supervision(Supervisor, Stop);
    Supervision.Start();
    int Signal = 0;
    while (sigwait(&Stops, &Signal) != 0) {
    }
    Stop.SetEvent();
    Supervision.WaitFor();
  }
  return true;
}

}  // namespace halvora
