#include "app/linux/uInstanceMarker.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/uThread.h"

namespace halvora {
namespace {

bool SocketAddress(const std::string& APath, sockaddr_un& AAddress) {
  std::memset(&AAddress, 0, sizeof AAddress);
  AAddress.sun_family = AF_UNIX;
  if (APath.size() >= sizeof AAddress.sun_path) return false;
  std::memcpy(AAddress.sun_path, APath.c_str(), APath.size() + 1);
  return true;
}

}  // namespace

bool IsPrivateFolder(const std::string& APath) {
  struct stat Info {};
  return !APath.empty() && lstat(APath.c_str(), &Info) == 0 && S_ISDIR(Info.st_mode) &&
         Info.st_uid == getuid() && (Info.st_mode & 077) == 0;
}

std::string InstanceFolder() {
  const char* Runtime = std::getenv("XDG_RUNTIME_DIR");
  if (Runtime && Runtime[0] == '/' && IsPrivateFolder(Runtime)) return Runtime;
  const std::string Fallback = "/tmp/halvora-" + std::to_string(getuid());
  mkdir(Fallback.c_str(), 0700);  // may exist already; checked below either way
  return IsPrivateFolder(Fallback) ? Fallback : std::string();
}

std::string DisplayKey() {
  const char* Display = std::getenv("DISPLAY");
  std::string Key = Display && Display[0] ? Display : "nodisplay";
  for (char& Char : Key)
    if (!((Char >= 'a' && Char <= 'z') || (Char >= 'A' && Char <= 'Z') ||
          (Char >= '0' && Char <= '9') || Char == '.' || Char == '-'))
      Char = '_';
  return Key;
}

// Accepts requests on the socket until it is terminated through its wake-up pipe.
class TInstanceMarker::TListener final : public TThread {
 public:
  TListener(TMainQueue& AQueue, int ASocket, std::function<void()> AOnRequest)
      : TThread(AQueue), FSocket(ASocket), FOnRequest(std::move(AOnRequest)) {
    if (pipe2(FWake, O_CLOEXEC) != 0) FWake[0] = FWake[1] = -1;
    Start();
  }
  ~TListener() override {
    Terminate();
    if (FWake[1] >= 0) (void)!write(FWake[1], "x", 1);
    StopThread();
    for (int Fd : {FWake[0], FWake[1], FSocket})
      if (Fd >= 0) close(Fd);
  }

 protected:
  void Execute() override {
    while (!Terminated()) {
      pollfd Fds[2] = {{FSocket, POLLIN, 0}, {FWake[0], POLLIN, 0}};
      if (poll(Fds, FWake[0] >= 0 ? 2 : 1, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (Fds[1].revents != 0) return;
      if (Fds[0].revents & POLLIN) {
        const int Client = accept4(FSocket, nullptr, nullptr, SOCK_CLOEXEC);
        if (Client >= 0) {
          close(Client);  // a connection is the request; nothing is read from it
          Queue(FOnRequest);
        }
      }
    }
  }

 private:
  const int FSocket;
  const std::function<void()> FOnRequest;
  int FWake[2] = {-1, -1};
};

TInstanceMarker::TInstanceMarker(std::string AFolder, std::string AName, TMainQueue& AQueue)
    : FFolder(std::move(AFolder)),
      FLockPath(FFolder + "/halvora-" + AName + ".lock"),
      FSocketPath(FFolder + "/halvora-" + AName + ".sock"),
      FQueue(AQueue) {}

TInstanceMarker::~TInstanceMarker() {
  FListener.reset();
  // The socket goes while the lock is still held, so it never removes a successor's.
  if (FHolder) unlink(FSocketPath.c_str());
  if (FLockFd >= 0) close(FLockFd);
}

bool TInstanceMarker::Acquire() {
  if (FFolder.empty()) return true;
  FLockFd = open(FLockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (FLockFd < 0) return true;
  if (flock(FLockFd, LOCK_EX | LOCK_NB) == 0) {
    FHolder = true;
    return true;
  }
  const bool Held = errno == EWOULDBLOCK;
  close(FLockFd);
  FLockFd = -1;
  return !Held;
}

void TInstanceMarker::Listen(std::function<void()> AOnRequest) {
  sockaddr_un Address;
  if (!FHolder || FListener || !SocketAddress(FSocketPath, Address)) return;
  const int Socket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (Socket < 0) return;
  unlink(FSocketPath.c_str());  // left by a holder that crashed
  if (bind(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof Address) != 0 ||
      listen(Socket, 4) != 0) {
    close(Socket);
    return;
  }
  FListener = std::make_unique<TListener>(FQueue, Socket, std::move(AOnRequest));
}

bool TInstanceMarker::AskHolderToComeForward() {
  sockaddr_un Address;
  if (FFolder.empty() || !SocketAddress(FSocketPath, Address)) return false;
  const int Socket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (Socket < 0) return false;
  const bool Reached =
      connect(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof Address) == 0;
  close(Socket);
  return Reached;
}

}  // namespace halvora
