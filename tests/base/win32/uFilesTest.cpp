#include "base/uFiles.h"

#include <gtest/gtest.h>
#include <windows.h>
// Ours, not the system's ReplaceFileW.
#undef ReplaceFile

#include <stdexcept>
#include <string>
#include <vector>

#include "support/uTestFiles.h"

namespace halvora {
namespace {

using test::FolderEntries;
using test::ReadFile;
using test::TTempFolder;
using test::WriteFile;

// The error text of ReplaceFile(APath, ...), or "no error".
std::string ReplaceError(const std::string& APath, std::string_view AContent) {
  try {
    ReplaceFile(APath, AContent);
  } catch (const std::runtime_error& Error) {
    return Error.what();
  }
  return "no error";
}

std::wstring Wide(const std::string& AUtf8) { return PathOf(AUtf8).wstring(); }

TEST(TReplaceFile, ReplacesOrCreatesTheFileAndLeavesNothingElse) {
  const TTempFolder Folder;
  const std::string Existing = Folder.Path("Configuração 日本/Halvora.ini");
  WriteFile(Existing, "old content, longer than the new one");
  ReplaceFile(Existing, "new");
  EXPECT_EQ(ReadFile(Existing), "new");

  const std::string Fresh = Folder.Path("Configuração 日本/marca-abc123.png");
  std::string Large(2 * (1 << 20) + 3, '\0');  // more than one write of 1 MiB
  for (std::size_t I = 0; I < Large.size(); ++I) Large[I] = static_cast<char>(I * 7 % 251);
  ReplaceFile(Fresh, Large);
  EXPECT_EQ(ReadFile(Fresh), Large);
  EXPECT_EQ(FolderEntries(Folder.Path("Configuração 日本")),
            (std::vector<std::string>{"Halvora.ini", "marca-abc123.png"}));
}

TEST(TReplaceFile, FailureNamesThePathAndLeavesTheOldFileAndNoTemporaryOne) {
  const TTempFolder Folder;
  WriteFile(Folder.Path("taken.ini/inside"), "x");
  const std::string Taken = Folder.Path("taken.ini");
  const std::string Orphan = Folder.Path("missing/a.ini");
  const std::string Held = Folder.Path("held.ini");
  WriteFile(Held, "[Server]\r\nUrl=wss://a/relay\r\n");
  // Open without leave to delete or rename it, as another program may hold the file.
  const HANDLE Holder = CreateFileW(Wide(Held).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(Holder, INVALID_HANDLE_VALUE);
  for (const std::string& Path : {Taken, Orphan, Held}) {
    const std::string Error = ReplaceError(Path, "new");
    const std::string Prefix = "erro ao gravar \"" + Path + "\": ";
    EXPECT_TRUE(Error.starts_with(Prefix)) << Error;
    EXPECT_GT(Error.size(), Prefix.size() + 5) << "no system error: " << Error;
  }
  CloseHandle(Holder);
  EXPECT_EQ(ReadFile(Held), "[Server]\r\nUrl=wss://a/relay\r\n");
  EXPECT_EQ(ReadFile(Folder.Path("taken.ini/inside")), "x");
  EXPECT_EQ(FolderEntries(Folder.Path("")), (std::vector<std::string>{"held.ini", "taken.ini"}));
}

}  // namespace
}  // namespace halvora
