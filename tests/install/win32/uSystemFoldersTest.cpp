#include "install/uSystemFolders.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <string>
#include <vector>

#include "base/win32/uWin32Text.h"
#include "install/uInstalacao.h"
#include "install/uSettings.h"

namespace halvora {
namespace {

std::optional<std::wstring> Variable(const wchar_t* AName) {
  std::wstring Value(32768, L'\0');
  SetLastError(0);
  const DWORD Length = GetEnvironmentVariableW(AName, Value.data(), 32768);
  if (Length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
  Value.resize(Length);
  return Value;
}

// Restores an environment variable when it goes out of scope.
class TVariableRestore {
 public:
  explicit TVariableRestore(const wchar_t* AName) : FName(AName), FValue(Variable(AName)) {}
  ~TVariableRestore() { SetEnvironmentVariableW(FName, FValue ? FValue->c_str() : nullptr); }
  TVariableRestore(const TVariableRestore&) = delete;
  TVariableRestore& operator=(const TVariableRestore&) = delete;

 private:
  const wchar_t* FName;
  std::optional<std::wstring> FValue;
};

// The shell's folder for a CSIDL number, with no window, no token, the current path.
std::string Shell(int AId) {
  wchar_t Path[MAX_PATH] = {};
  EXPECT_EQ(SHGetFolderPathW(nullptr, AId, nullptr, SHGFP_TYPE_CURRENT, Path), S_OK) << AId;
  return WideToUtf8(Path);
}

TEST(TWin32Folders, TheMachineFoldersAreTheShellsWithABackslash) {
  struct TCase {
    TKnownFolder Folder;
    int ShellId;
    const wchar_t* Variable;  // where Windows also names the folder
  };
  const std::vector<TCase> Cases = {
      {TKnownFolder::kfCommonAppData, 0x23, L"ProgramData"},
      {TKnownFolder::kfProgramFiles, 0x26, L"ProgramFiles"},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.ShellId);
    const std::string Path = SystemFolders().KnownFolderPath(Case.Folder);
    EXPECT_EQ(Path, Shell(Case.ShellId) + "\\");
    ASSERT_TRUE(Variable(Case.Variable));
    EXPECT_EQ(CompareStringOrdinal(Utf8ToWide(Path).c_str(), -1,
                                   (*Variable(Case.Variable) + L"\\").c_str(), -1, TRUE),
              CSTR_EQUAL)
        << Path;
  }
}

TEST(TWin32Folders, NamesAndInstallationPaths) {
  EXPECT_EQ(PlatformNames().AppFolder, "Halvora");
  EXPECT_EQ(PlatformNames().SettingsFile, "Halvora.ini");
  EXPECT_EQ(PlatformNames().ExeName, "Halvora.exe");
  EXPECT_EQ(PlatformNames().Separator, '\\');
  EXPECT_EQ(MachineSettingsPath(), Shell(0x23) + "\\Halvora\\Halvora.ini");
  EXPECT_EQ(InstallFolder(), Shell(0x26) + "\\Halvora\\");
  EXPECT_EQ(InstalledExePath(), Shell(0x26) + "\\Halvora\\Halvora.exe");
}

TEST(TWin32Folders, TheUserFolderIsTheVariableAppData) {
  const TVariableRestore Restore(L"APPDATA");
  const std::string Long = "C:\\" + std::string(300, 'x') + "\\Roaming";
  const std::vector<std::pair<std::optional<std::string>, std::string>> Cases = {
      {"C:\\users\\Usuário 日本\\AppData\\Roaming", "C:\\users\\Usuário 日本\\AppData\\Roaming\\"},
      {"D:\\perfis\\ana\\", "D:\\perfis\\ana\\"},
      {Long, Long + "\\"},
      {"", ""},
      {std::nullopt, ""},
  };
  for (const auto& [Value, Expected] : Cases) {
    SCOPED_TRACE("APPDATA=" + Value.value_or("(unset)"));
    ASSERT_TRUE(SetEnvironmentVariableW(L"APPDATA", Value ? Utf8ToWide(*Value).c_str() : nullptr));
    EXPECT_EQ(SystemFolders().KnownFolderPath(TKnownFolder::kfUserAppData), Expected);
  }
  SetEnvironmentVariableW(L"APPDATA", L"C:\\users\\Usuário\\AppData\\Roaming");
  ASSERT_FALSE(IsInstalled()) << "this Wine prefix holds an installed Halvora";
  EXPECT_EQ(SettingsPath(), "C:\\users\\Usuário\\AppData\\Roaming\\Halvora\\Halvora.ini");
}

}  // namespace
}  // namespace halvora
