#include "install/uProcessArguments.h"

#include <windows.h>
#include <shellapi.h>

#include "base/win32/uWin32Text.h"

namespace halvora {

std::vector<std::string> ProcessArguments() {
  std::vector<std::string> Result;
  int Count = 0;
  wchar_t** Arguments = CommandLineToArgvW(GetCommandLineW(), &Count);
  if (!Arguments) return Result;
  for (int I = 0; I < Count; ++I) Result.push_back(WideToUtf8(Arguments[I]));
  LocalFree(Arguments);
  return Result;
}

std::string ProgramFilePath() {
  std::wstring Path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD Length = GetModuleFileNameW(nullptr, Path.data(), static_cast<DWORD>(Path.size()));
    if (Length == 0) return {};
    if (Length < Path.size()) {
      Path.resize(Length);
      return WideToUtf8(Path);
    }
    Path.resize(Path.size() * 2);
  }
}

}  // namespace halvora
