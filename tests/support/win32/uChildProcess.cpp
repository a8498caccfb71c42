#include "support/win32/uChildProcess.h"

#include <windows.h>

#include <cstdio>

#include "base/win32/uWin32Text.h"

namespace halvora::test {
namespace {

// One argument after the first: as it is when nothing in it needs quoting; otherwise in
// double quotes, each quote escaped by a backslash and the backslashes before a quote (or
// before the closing one) doubled.
std::wstring Quoted(const std::wstring& AArg) {
  if (!AArg.empty() && AArg.find_first_of(L" \t\"") == std::wstring::npos) return AArg;
  std::wstring Result = L"\"";
  std::size_t Backslashes = 0;
  for (const wchar_t C : AArg) {
    if (C == L'\\') {
      ++Backslashes;
      continue;
    }
    Result.append(C == L'"' ? 2 * Backslashes + 1 : Backslashes, L'\\');
    Backslashes = 0;
    Result += C;
  }
  Result.append(2 * Backslashes, L'\\');
  return Result + L"\"";
}

// The command line that CommandLineToArgvW splits back into AArgs.
std::wstring CommandLineOf(const std::vector<std::string>& AArgs) {
  std::wstring Line;
  for (std::size_t I = 0; I < AArgs.size(); ++I) {
    if (I == 0) {
      Line = L"\"" + Utf8ToWide(AArgs[0]) + L"\"";
    } else {
      Line += L" " + Quoted(Utf8ToWide(AArgs[I]));
    }
  }
  return Line;
}

}  // namespace

int RunProgram(const std::string& AProgram, const std::vector<std::string>& AArgs,
               std::chrono::milliseconds ATimeout) {
  std::wstring Line = CommandLineOf(AArgs);
  STARTUPINFOW Startup{};
  Startup.cb = sizeof(Startup);
  PROCESS_INFORMATION Process{};
  if (!CreateProcessW(Utf8ToWide(AProgram).c_str(), Line.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &Startup, &Process))
    return -1;
  CloseHandle(Process.hThread);
  DWORD Code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(Process.hProcess, static_cast<DWORD>(ATimeout.count())) ==
      WAIT_OBJECT_0) {
    GetExitCodeProcess(Process.hProcess, &Code);
  } else {
    TerminateProcess(Process.hProcess, Code);
    WaitForSingleObject(Process.hProcess, INFINITE);
  }
  CloseHandle(Process.hProcess);
  return static_cast<int>(Code);
}

std::string ThisProgram() {
  std::wstring Path(32768, L'\0');
  Path.resize(GetModuleFileNameW(nullptr, Path.data(), static_cast<DWORD>(Path.size())));
  return WideToUtf8(Path);
}

void EndChild(bool AFailed) {
  std::fflush(stdout);
  std::fflush(stderr);
  ExitProcess(AFailed ? 1 : ChildSucceeded);
}

}  // namespace halvora::test
