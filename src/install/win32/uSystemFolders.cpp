#include "install/uSystemFolders.h"

#include <windows.h>
#include <shlobj.h>

#include "base/win32/uWin32Text.h"

namespace halvora {
namespace {

std::string WithTrailingBackslash(std::string APath) {
  if (!APath.empty() && APath.back() != '\\') APath += '\\';
  return APath;
}

// The shell's folder: no window, no token, its current path.
std::string ShellFolder(int AFolderId) {
  wchar_t Path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, AFolderId, nullptr, SHGFP_TYPE_CURRENT, Path))) return {};
  return WithTrailingBackslash(WideToUtf8(Path));
}

// The user's application data: the variable APPDATA.
std::string UserAppData() {
  const DWORD Size = GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
  if (Size == 0) return {};
  std::wstring Value(Size, L'\0');
  const DWORD Length = GetEnvironmentVariableW(L"APPDATA", Value.data(), Size);
  if (Length == 0 || Length >= Size) return {};
  Value.resize(Length);
  return WithTrailingBackslash(WideToUtf8(Value));
}

class TWin32Folders final : public ISystemFolders {
 public:
  std::string KnownFolderPath(TKnownFolder AFolder) const override {
    switch (AFolder) {
      case TKnownFolder::kfCommonAppData: return ShellFolder(CSIDL_COMMON_APPDATA);
      case TKnownFolder::kfProgramFiles: return ShellFolder(CSIDL_PROGRAM_FILES);
      case TKnownFolder::kfUserAppData: return UserAppData();
    }
    return {};
  }
};

}  // namespace

ISystemFolders& SystemFolders() {
  static TWin32Folders Folders;
  return Folders;
}

const TPlatformNames& PlatformNames() {
  static const TPlatformNames Names{"Halvora", "Halvora.ini", "Halvora.exe", '\\'};
  return Names;
}

}  // namespace halvora
