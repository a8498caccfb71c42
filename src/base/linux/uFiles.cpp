#include "base/uFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace halvora {
namespace {

[[noreturn]] void Fail(const std::string& APath, int AError) {
  throw std::runtime_error("erro ao gravar \"" + APath +
                           "\": " + std::system_category().message(AError));
}

// A temporary file beside the target; closed, and removed unless it was renamed.
class TTempFile {
 public:
  explicit TTempFile(const std::string& ATarget) : FPath(ATarget + ".XXXXXX") {
    FHandle = mkostemp(FPath.data(), O_CLOEXEC);
    if (FHandle < 0) Fail(ATarget, errno);
  }
  ~TTempFile() {
    if (FHandle >= 0) close(FHandle);
    if (!FRenamed) unlink(FPath.c_str());
  }
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;

  int Handle() const { return FHandle; }
  const std::string& Path() const { return FPath; }
  // Closes the file, reporting the error a late write-back may only show here.
  int Close() {
    const int Result = close(FHandle);
    FHandle = -1;
    return Result;
  }
  void Renamed() { FRenamed = true; }

 private:
  std::string FPath;
  int FHandle = -1;
  bool FRenamed = false;
};

bool WriteAll(int AHandle, std::string_view AContent) {
  while (!AContent.empty()) {
    const ssize_t Written = write(AHandle, AContent.data(), AContent.size());
    if (Written < 0 && errno == EINTR) continue;
    if (Written < 0) return false;
    AContent.remove_prefix(static_cast<std::size_t>(Written));
  }
  return true;
}

}  // namespace

void ReplaceFile(const std::string& APath, std::string_view AContent, TReplaceMode AMode) {
  // mkostemp makes the file owner-only, whatever the umask.
  TTempFile Temp(APath);
  struct stat Existing {};
  if (AMode == TReplaceMode::rmKeepMode && stat(APath.c_str(), &Existing) == 0 &&
      fchmod(Temp.Handle(), Existing.st_mode & 07777) != 0)
    Fail(APath, errno);
  if (AMode == TReplaceMode::rmPublicRead && fchmod(Temp.Handle(), 0644) != 0) Fail(APath, errno);
  if (!WriteAll(Temp.Handle(), AContent) || fsync(Temp.Handle()) != 0 || Temp.Close() != 0)
    Fail(APath, errno);
  if (rename(Temp.Path().c_str(), APath.c_str()) != 0) Fail(APath, errno);
  Temp.Renamed();
}

}  // namespace halvora
