#include "base/uFiles.h"

#include <windows.h>
// Ours, not the system's ReplaceFileW.
#undef ReplaceFile

#include <algorithm>
#include <stdexcept>

#include "base/win32/uWin32Text.h"

namespace halvora {
namespace {

[[noreturn]] void Fail(const std::string& APath, DWORD AError) {
  throw std::runtime_error("erro ao gravar \"" + APath + "\": " + SystemErrorText(AError));
}

// A temporary file beside the target; closed, and removed unless it was renamed.
class TTempFile {
 public:
  explicit TTempFile(const std::string& ATarget) {
    std::wstring Folder = PathOf(ATarget).parent_path().wstring();
    if (Folder.empty()) Folder = L".";
    wchar_t Name[MAX_PATH];
    if (GetTempFileNameW(Folder.c_str(), L"hlv", 0, Name) == 0) Fail(ATarget, GetLastError());
    FPath = Name;
    FHandle = CreateFileW(Name, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (FHandle == INVALID_HANDLE_VALUE) {
      const DWORD Error = GetLastError();
      DeleteFileW(Name);
      Fail(ATarget, Error);
    }
  }
  ~TTempFile() {
    if (FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
    if (!FRenamed) DeleteFileW(FPath.c_str());
  }
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;

  HANDLE Handle() const { return FHandle; }
  const std::wstring& Path() const { return FPath; }
  bool Close() {
    const bool Closed = CloseHandle(FHandle) != 0;
    FHandle = INVALID_HANDLE_VALUE;
    return Closed;
  }
  void Renamed() { FRenamed = true; }

 private:
  std::wstring FPath;
  HANDLE FHandle = INVALID_HANDLE_VALUE;
  bool FRenamed = false;
};

bool WriteAll(HANDLE AHandle, std::string_view AContent) {
  while (!AContent.empty()) {
    DWORD Written = 0;
    const DWORD Chunk = static_cast<DWORD>(std::min<std::size_t>(AContent.size(), 1 << 20));
    if (!WriteFile(AHandle, AContent.data(), Chunk, &Written, nullptr)) return false;
    AContent.remove_prefix(Written);
  }
  return true;
}

}  // namespace

// Windows keeps no permission bits: the new file takes the access rules of its folder, which
// for the user's own settings is the user's profile.
void ReplaceFile(const std::string& APath, std::string_view AContent, TReplaceMode) {
  TTempFile Temp(APath);
  if (!WriteAll(Temp.Handle(), AContent) || !FlushFileBuffers(Temp.Handle()) || !Temp.Close())
    Fail(APath, GetLastError());
  if (!MoveFileExW(Temp.Path().c_str(), PathOf(APath).wstring().c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    Fail(APath, GetLastError());
  Temp.Renamed();
}

}  // namespace halvora
