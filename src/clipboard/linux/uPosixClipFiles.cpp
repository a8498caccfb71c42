#include "clipboard/linux/uPosixClipFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace halvora {
namespace {

// The system's text for AError, in the user's language when the system has it.
std::string SystemText(int AError) {
  char Buffer[256];
  return strerror_r(AError, Buffer, sizeof Buffer);
}

[[noreturn]] void ThrowSystem(int AError) {
  throw EClipFailure(SystemText(AError));
}

std::string ParentOf(const std::string& APath) {
  const std::size_t Slash = APath.find_last_of('/');
  if (Slash == std::string::npos) return {};
  return Slash == 0 ? std::string("/") : APath.substr(0, Slash);
}

// Creates APath and its missing parents with AMode (less the umask).
void MakeFolders(const std::string& APath, mode_t AMode) {
  std::string Path = APath;
  while (Path.size() > 1 && Path.back() == '/') Path.pop_back();
  std::vector<std::string> Missing;
  while (!Path.empty()) {
    struct stat Info;
    if (stat(Path.c_str(), &Info) == 0) {
      if (!S_ISDIR(Info.st_mode)) ThrowSystem(ENOTDIR);
      break;
    }
    if (errno != ENOENT) ThrowSystem(errno);
    Missing.push_back(Path);
    const std::string Parent = ParentOf(Path);
    if (Parent == Path) break;
    Path = Parent;
  }
  for (auto It = Missing.rbegin(); It != Missing.rend(); ++It)
    if (mkdir(It->c_str(), AMode) != 0 && errno != EEXIST) ThrowSystem(errno);
}

// Deletes everything inside the open folder ADir; entries are reached only through ADir, and
// folders are entered only when they are not links.
void RemoveContents(int ADir) {
  const int ListFd = openat(ADir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (ListFd < 0) return;
  DIR* List = fdopendir(ListFd);
  if (!List) {
    close(ListFd);
    return;
  }
  while (const dirent* Entry = readdir(List)) {
    const char* Name = Entry->d_name;
    if (std::strcmp(Name, ".") == 0 || std::strcmp(Name, "..") == 0) continue;
    if (unlinkat(ADir, Name, 0) == 0) continue;
    if (errno != EISDIR && errno != EPERM) continue;
    const int Sub = openat(ADir, Name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (Sub < 0) continue;
    RemoveContents(Sub);
    close(Sub);
    unlinkat(ADir, Name, AT_REMOVEDIR);
  }
  closedir(List);
}

class TPosixReader final : public IFileReader {
 public:
  explicit TPosixReader(int AFd) : FFd(AFd) {}
  ~TPosixReader() override { close(FFd); }

  std::size_t Read(void* ABuffer, std::size_t ACount) override {
    std::size_t Done = 0;
    while (Done < ACount) {
      const ssize_t Got = read(FFd, static_cast<char*>(ABuffer) + Done, ACount - Done);
      if (Got < 0 && errno == EINTR) continue;
      if (Got <= 0) break;
      Done += static_cast<std::size_t>(Got);
    }
    return Done;
  }

 private:
  const int FFd;
};

class TPosixWriter final : public IFileWriter {
 public:
  explicit TPosixWriter(int AFd) : FFd(AFd) {}
  ~TPosixWriter() override {
    if (FFd >= 0) close(FFd);
  }

  void Write(const void* ABuffer, std::size_t ACount) override {
    std::size_t Done = 0;
    while (Done < ACount) {
      const ssize_t Put = write(FFd, static_cast<const char*>(ABuffer) + Done, ACount - Done);
      if (Put < 0 && errno == EINTR) continue;
      if (Put < 0) ThrowSystem(errno);
      if (Put == 0) ThrowSystem(ENOSPC);
      Done += static_cast<std::size_t>(Put);
    }
  }

  void Close() override {
    const int Fd = FFd;
    FFd = -1;
    // After EINTR the descriptor is gone on Linux; nothing was lost.
    if (Fd >= 0 && close(Fd) != 0 && errno != EINTR) ThrowSystem(errno);
  }

 private:
  int FFd;
};

}  // namespace

bool TPosixClipFiles::Lookup(const std::string& APath, TFileInfo& AInfo) {
  struct stat Info;
  if (lstat(APath.c_str(), &Info) != 0) return false;
  const bool Link = S_ISLNK(Info.st_mode);
  if (Link && stat(APath.c_str(), &Info) != 0) return false;  // a dangling link
  if (S_ISDIR(Info.st_mode)) {
    AInfo = TFileInfo{true, Link, 0};
    return true;
  }
  if (S_ISREG(Info.st_mode)) {
    AInfo = TFileInfo{false, false, static_cast<std::int64_t>(Info.st_size)};
    return true;
  }
  return false;  // a pipe, socket or device: reading it could block or never end
}

bool TPosixClipFiles::EnumFolder(const std::string& AFolder,
                                 const std::function<bool(const std::string& AName)>& AEach) {
  const int Fd = open(AFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Fd < 0) return true;
  DIR* List = fdopendir(Fd);
  if (!List) {
    close(Fd);
    return true;
  }
  bool Completed = true;
  try {
    while (const dirent* Entry = readdir(List)) {
      const std::string Name = Entry->d_name;
      if (Name == "." || Name == "..") continue;
      if (!AEach(Name)) {
        Completed = false;
        break;
      }
    }
  } catch (...) {
    closedir(List);
    throw;
  }
  closedir(List);
  return Completed;
}

std::unique_ptr<IFileReader> TPosixClipFiles::OpenRead(const std::string& APath) {
  // Non-blocking, so that a file replaced by a pipe since the walk cannot hold the sender.
  const int Fd = open(APath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (Fd < 0) return nullptr;
  struct stat Info;
  if (fstat(Fd, &Info) != 0 || !S_ISREG(Info.st_mode)) {
    close(Fd);
    return nullptr;
  }
  return std::make_unique<TPosixReader>(Fd);
}

void TPosixClipFiles::EnsurePrivateFolder(const std::string& APath) {
  if (APath.empty() || APath.front() != '/') throw EClipFailure("pasta temporária indisponível");
  MakeFolders(APath, 0700);
  const int Fd = open(APath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (Fd < 0) ThrowSystem(errno);
  struct stat Info;
  int Error = 0;
  if (fstat(Fd, &Info) != 0)
    Error = errno;
  else if (Info.st_uid != geteuid())
    Error = EPERM;
  else if ((Info.st_mode & 07777) != 0700 && fchmod(Fd, 0700) != 0)
    Error = errno;
  close(Fd);
  if (Error != 0) ThrowSystem(Error);
}

bool TPosixClipFiles::CreateNewFolder(const std::string& APath) {
  if (mkdir(APath.c_str(), 0700) == 0) return true;
  if (errno == EEXIST) return false;
  ThrowSystem(errno);
}

void TPosixClipFiles::CreateFolders(const std::string& APath) {
  MakeFolders(APath, 0777);
}

std::unique_ptr<IFileWriter> TPosixClipFiles::CreateFile(const std::string& APath) {
  const int Fd =
      open(APath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0666);
  if (Fd < 0) ThrowSystem(errno);
  return std::make_unique<TPosixWriter>(Fd);
}

void TPosixClipFiles::DeleteTree(const std::string& APath) noexcept {
  struct stat Info;
  if (APath.empty() || lstat(APath.c_str(), &Info) != 0) return;
  if (!S_ISDIR(Info.st_mode)) {
    unlink(APath.c_str());  // a file, or a link: the link goes, not what it points to
    return;
  }
  const int Fd = open(APath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (Fd < 0) {
    if (errno == ELOOP || errno == ENOTDIR) unlink(APath.c_str());  // replaced by a link
    return;
  }
  // Entries removed while a folder is listed may hide others from that listing; a few more
  // passes pick them up.
  for (int Pass = 0; Pass < 3; ++Pass) {
    RemoveContents(Fd);
    if (rmdir(APath.c_str()) == 0 || (errno != ENOTEMPTY && errno != EEXIST)) break;
  }
  close(Fd);
}

std::string ClipboardBaseFolder() {
  std::string Cache;
  const char* Xdg = std::getenv("XDG_CACHE_HOME");
  if (Xdg && Xdg[0] == '/') {
    Cache = Xdg;
  } else {
    std::string Home;
    const char* HomeVar = std::getenv("HOME");
    if (HomeVar && HomeVar[0] == '/') {
      Home = HomeVar;
    } else {
      passwd Entry;
      passwd* Found = nullptr;
      std::vector<char> Buffer(16384);
      if (getpwuid_r(geteuid(), &Entry, Buffer.data(), Buffer.size(), &Found) == 0 && Found &&
          Found->pw_dir && Found->pw_dir[0] == '/')
        Home = Found->pw_dir;
    }
    if (Home.empty()) return {};
    while (Home.size() > 1 && Home.back() == '/') Home.pop_back();
    Cache = Home + (Home == "/" ? ".cache" : "/.cache");
  }
  while (Cache.size() > 1 && Cache.back() == '/') Cache.pop_back();
  return Cache + (Cache == "/" ? "" : "/") + "halvora/clipboard";
}

TLocalTime LocalTimeNow() {
  timespec Now{};
  clock_gettime(CLOCK_REALTIME, &Now);
  tm Local{};
  localtime_r(&Now.tv_sec, &Local);
  return TLocalTime{Local.tm_year + 1900,
                    Local.tm_mon + 1,
                    Local.tm_mday,
                    Local.tm_hour,
                    Local.tm_min,
                    Local.tm_sec,
                    static_cast<int>(Now.tv_nsec / 1000000)};
}

}  // namespace halvora
