#include "uClipTransfer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/uTestFiles.h"

namespace halvora::viewer {
namespace {

namespace fs = std::filesystem;
using halvora::test::FolderEntries;
using halvora::test::ReadFile;
using halvora::test::TTempFolder;
using halvora::test::WriteFile;

TEST(ClipNames, KeepRelativeNamesAndRejectEverythingElse) {
  const std::string Long240(240, 'a'), Accents240 = [] {
    std::string Text;
    for (int I = 0; I < 240; ++I) Text += "ç";
    return Text;
  }();
  const struct {
    std::string Name, Expected;
  } Cases[] = {
      {"a.txt", "a.txt"},
      {"docs/a.txt", "docs/a.txt"},
      {"docs\\sub\\a.txt", "docs/sub/a.txt"},
      {"relatório final.pdf", "relatório final.pdf"},
      {Long240, Long240},
      {Accents240, Accents240},
      {Long240 + "a", ""},
      {"", ""},
      {"..", ""},
      {"..\\x", ""},
      {"../x", ""},
      {"a\\..\\..\\x", ""},
      {"a\\.\\b", ""},
      {"\\x", ""},
      {"/etc/passwd", ""},
      {"C:\\x", ""},
      {"a\\\\b", ""},
      {"a//b", ""},
      {"a\\", ""},
      {" a", ""},
      {"a ", ""},
      {"a\\ b", ""},
      {"a\tb", ""},
      {"a*b", ""},
      {"a?b", ""},
      {"a|b", ""},
      {"a\"b", ""},
      {"\xff\xfe", ""},
      {"a\xc3", ""},
  };
  for (const auto& Case : Cases) EXPECT_EQ(SafeRelativeName(Case.Name), Case.Expected) << Case.Name;
}

TBytes Begin(std::uint32_t AId, std::uint32_t ACount, std::uint64_t ATotal) {
  return TClipFilesBeginMessage{AId, ACount, ATotal}.Encode();
}

TBytes Entry(std::uint32_t AId, const std::string& AName, bool AIsDir, std::uint64_t ASize = 0) {
  return TClipFileEntryMessage{AId, static_cast<std::int64_t>(ASize), AIsDir, AName}.Encode();
}

TBytes Data(std::uint32_t AId, const std::string& AData) {
  return TClipFileDataMessage{AId, PayloadView(AData)}.Encode();
}

TBytes End(std::uint32_t AId, bool AOk) {
  return TClipFilesEndMessage{AId, AOk}.Encode();
}

class ClipReceiverTest : public testing::Test {
 protected:
  std::string Base() const { return Temp.Path("out/received-files"); }

  TTempFolder Temp;
  TClipReceiver Receiver{Temp.Path("out/received-files")};
};

TEST_F(ClipReceiverTest, StoresACompleteTransferBelowItsOwnFolder) {
  EXPECT_FALSE(Receiver.Handle(112, Begin(7, 3, 5)).Failed);
  EXPECT_FALSE(Receiver.Handle(113, Entry(7, "docs", true)).Failed);
  EXPECT_FALSE(Receiver.Handle(113, Entry(7, "docs\\a.txt", false, 5)).Failed);
  EXPECT_FALSE(Receiver.Handle(114, Data(7, "ol")).Failed);
  EXPECT_FALSE(Receiver.Handle(114, Data(7, "á")).Failed);
  EXPECT_FALSE(Receiver.Handle(113, Entry(7, "vazio.txt", false)).Failed);
  EXPECT_TRUE(Receiver.Handle(114, Data(8, "x")).Failed);  // another transfer: ignored
  const TClipNote Note = Receiver.Handle(115, End(7, true));
  EXPECT_FALSE(Note.Failed);
  EXPECT_NE(Note.Text.find("2 item(ns)"), std::string::npos) << Note.Text;

  EXPECT_EQ(ReadFile(Base() + "/transfer-1/docs/a.txt"), "olá");
  EXPECT_TRUE(fs::exists(Base() + "/transfer-1/vazio.txt"));
  // The next transfer gets a folder of its own.
  Receiver.Handle(112, Begin(8, 1, 0));
  Receiver.Handle(113, Entry(8, "x", true));
  Receiver.Handle(115, End(8, true));
  EXPECT_EQ(FolderEntries(Base()), (std::vector<std::string>{"transfer-1", "transfer-2"}));
}

TEST_F(ClipReceiverTest, DropsTransfersThatBreakTheRules) {
  const struct {
    const char* Name;
    std::vector<std::pair<std::uint8_t, TBytes>> Messages;
    const char* Error;  // of the last message
  } Cases[] = {
      {"parent reference",
       {{112, Begin(1, 2, 1)}, {113, Entry(1, "..\\..\\escaped.txt", false, 1)}},
       "nome de arquivo inválido"},
      {"absolute name",
       {{112, Begin(1, 1, 1)}, {113, Entry(1, "/tmp/escaped.txt", false, 1)}},
       "nome de arquivo inválido"},
      {"drive letter",
       {{112, Begin(1, 1, 1)}, {113, Entry(1, "C:\\escaped.txt", false, 1)}},
       "nome de arquivo inválido"},
      {"nested parent",
       {{112, Begin(1, 2, 1)}, {113, Entry(1, "a", true)}, {113, Entry(1, "a\\..\\..\\x", false)}},
       "nome de arquivo inválido"},
      {"more entries than announced",
       {{112, Begin(1, 1, 0)}, {113, Entry(1, "a", true)}, {113, Entry(1, "b", true)}},
       "mais entradas que as 1 anunciadas"},
      {"more data than announced",
       {{112, Begin(1, 1, 2)}, {113, Entry(1, "a", false, 2)}, {114, Data(1, "abc")}},
       "dados além do tamanho anunciado"},
      {"file where a folder stands",
       {{112, Begin(1, 2, 0)}, {113, Entry(1, "a", true)}, {113, Entry(1, "a", false)}},
       "não foi possível criar"},
      {"too many entries", {{112, Begin(1, ClipMaxEntries + 1, 0)}}, "passa dos limites"},
      {"too many bytes", {{112, Begin(1, 1, ClipMaxBytes + 1)}}, "passa dos limites"},
      {"short header", {{112, TBytes(15, 0)}}, "cabeçalho de transferência inválido"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TClipNote Note;
    for (const auto& [Cmd, Payload] : Case.Messages) Note = Receiver.Handle(Cmd, Payload);
    EXPECT_TRUE(Note.Failed);
    EXPECT_NE(Note.Text.find(Case.Error), std::string::npos) << Note.Text;
    // The transfer is gone: later messages are ignored and nothing stays on disk.
    EXPECT_TRUE(Receiver.Handle(115, End(1, true)).Failed);
    EXPECT_TRUE(FolderEntries(Base()).empty());
    EXPECT_EQ(FolderEntries(Temp.Path("")), std::vector<std::string>{"out"});
  }
}

TEST_F(ClipReceiverTest, CancelledTransferIsDeleted) {
  Receiver.Handle(112, Begin(3, 1, 1));
  Receiver.Handle(113, Entry(3, "a", false, 1));
  Receiver.Handle(114, Data(3, "x"));
  EXPECT_FALSE(Receiver.Handle(115, End(3, false)).Failed);
  EXPECT_TRUE(FolderEntries(Base()).empty());
}

TEST(ClipSender, TransferArrivesWholeAtAReceiver) {
  TTempFolder Temp;
  std::string Big(70000, 'x');
  Big[65536] = 'y';
  WriteFile(Temp.Path("src/pasta/sub/big.bin"), Big);
  fs::create_directories(Temp.Path("src/pasta/vazia"));
  WriteFile(Temp.Path("src/solo.txt"), "");

  TClipList List;
  std::string Error;
  ASSERT_TRUE(CollectClipEntries({Temp.Path("src/pasta/"), Temp.Path("src/solo.txt")}, List, Error))
      << Error;
  std::vector<std::string> Names;
  for (const auto& Entry : List.Entries) Names.push_back(Entry.RelName);
  EXPECT_EQ(Names, (std::vector<std::string>{"pasta", "pasta\\sub", "pasta\\sub\\big.bin",
                                             "pasta\\vazia", "solo.txt"}));
  EXPECT_EQ(List.Total, 70000u);

  TClipReceiver Receiver(Temp.Path("out"));
  std::vector<std::size_t> DataSizes;
  std::vector<std::string> Failures;
  const bool Sent = SendClipTransfer(5, List, [&](std::uint8_t ACmd, const TBytes& APayload) {
    if (ACmd == 114) DataSizes.push_back(APayload.size() - 4);
    const TClipNote Note = Receiver.Handle(ACmd, APayload);
    if (Note.Failed) Failures.push_back(Note.Text);
    return true;
  });
  EXPECT_TRUE(Sent);
  EXPECT_TRUE(Failures.empty()) << Failures[0];
  EXPECT_EQ(DataSizes, (std::vector<std::size_t>{65536, 4464}));
  EXPECT_EQ(ReadFile(Temp.Path("out/transfer-1/pasta/sub/big.bin")), Big);
  EXPECT_TRUE(fs::is_directory(Temp.Path("out/transfer-1/pasta/vazia")));
  EXPECT_TRUE(fs::is_regular_file(Temp.Path("out/transfer-1/solo.txt")));
}

TEST(ClipSender, RefusesMissingPathsAndTooMuchData) {
  TTempFolder Temp;
  TClipList List;
  std::string Error;
  EXPECT_FALSE(CollectClipEntries({Temp.Path("nada")}, List, Error));
  EXPECT_NE(Error.find("não encontrado"), std::string::npos);

  // Sparse files: the walk only looks at sizes.
  WriteFile(Temp.Path("a/limite.bin"), "");
  fs::resize_file(Temp.Path("a/limite.bin"), ClipMaxBytes);
  EXPECT_TRUE(CollectClipEntries({Temp.Path("a")}, List, Error)) << Error;
  WriteFile(Temp.Path("a/um.bin"), "1");
  EXPECT_FALSE(CollectClipEntries({Temp.Path("a")}, List, Error));
  EXPECT_NE(Error.find("200 MB"), std::string::npos) << Error;
}

}  // namespace
}  // namespace halvora::viewer
