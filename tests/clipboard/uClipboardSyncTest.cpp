#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "clipboard/linux/uPosixClipFiles.h"
#include "clipboard/uClipboardSync.h"
#include "protocol/uProtocol.h"
#include "support/uTestFiles.h"
#include "support/uTestLoop.h"
#include "uClipTestSupport.h"

namespace halvora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::BeginPayload;
using test::DataPayload;
using test::EndPayload;
using test::EntryPayload;
using test::U32At;
using test::U64At;
using TMessages = std::vector<std::pair<std::uint8_t, TIdBytes>>;

const std::string ReceiveFailed = "Falha ao receber a área de transferência: ";
const std::string LimitText =
    "Arquivos copiados não foram enviados: passam do limite de 200 MB ou de 5000 itens.";

std::string Repeat(const std::string& APiece, std::size_t ACount) {
  std::string Result;
  Result.reserve(APiece.size() * ACount);
  for (std::size_t I = 0; I < ACount; ++I) Result += APiece;
  return Result;
}

int ModeOf(const std::string& APath) {
  struct stat Info;
  return stat(APath.c_str(), &Info) == 0 ? static_cast<int>(Info.st_mode & 07777) : -1;
}

// The real file system, with its reads counted, and one received file name that lands on a
// full disk (/dev/full).
class TTestFiles final : public IClipFileSystem {
 public:
  std::string FullName;
  std::atomic<int> Reads{0};
  std::atomic<std::size_t> LargestRead{0};

  bool Lookup(const std::string& APath, TFileInfo& AInfo) override {
    return FReal.Lookup(APath, AInfo);
  }
  bool EnumFolder(const std::string& AFolder,
                  const std::function<bool(const std::string&)>& AEach) override {
    return FReal.EnumFolder(AFolder, AEach);
  }
  std::unique_ptr<IFileReader> OpenRead(const std::string& APath) override {
    std::unique_ptr<IFileReader> Reader = FReal.OpenRead(APath);
    if (!Reader) return nullptr;
    return std::make_unique<TCountingReader>(std::move(Reader), *this);
  }
  void EnsurePrivateFolder(const std::string& APath) override { FReal.EnsurePrivateFolder(APath); }
  bool CreateNewFolder(const std::string& APath) override { return FReal.CreateNewFolder(APath); }
  void CreateFolders(const std::string& APath) override { FReal.CreateFolders(APath); }
  std::unique_ptr<IFileWriter> CreateFile(const std::string& APath) override {
    if (!FullName.empty() && fs::path(APath).filename() == FullName)
      return FReal.CreateFile("/dev/full");
    return FReal.CreateFile(APath);
  }
  void DeleteTree(const std::string& APath) noexcept override { FReal.DeleteTree(APath); }
  char Delimiter() const override { return FReal.Delimiter(); }
  bool IsDelimiter(char AChar) const override { return FReal.IsDelimiter(AChar); }
  bool SameName(const std::string& A, const std::string& B) const override {
    return FReal.SameName(A, B);
  }

 private:
  class TCountingReader final : public IFileReader {
   public:
    TCountingReader(std::unique_ptr<IFileReader> AReal, TTestFiles& AOwner)
        : FReal(std::move(AReal)), FOwner(AOwner) {}
    std::size_t Read(void* ABuffer, std::size_t ACount) override {
      ++FOwner.Reads;
      if (ACount > FOwner.LargestRead) FOwner.LargestRead = ACount;
      return FReal->Read(ABuffer, ACount);
    }

   private:
    std::unique_ptr<IFileReader> FReal;
    TTestFiles& FOwner;
  };

  TPosixClipFiles FReal;
};

class ClipboardSyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Sync = NewSync(Clipboard);
    Sync->Activate(Wire.Func());
  }

  std::unique_ptr<TClipboardSync> NewSync(IClipboardAccess& AClipboard) {
    auto Result = std::make_unique<TClipboardSync>(
        AClipboard, Files, Base(), [this] { return Now; }, Loop.Queue());
    Result->SetOnNotify([this](const std::string& AText) { Notes.push_back(AText); });
    return Result;
  }

  std::string Base() const { return Temp.Path("cache/halvora/clipboard"); }
  std::string Source(const std::string& ARelative) const { return Temp.Path("src/" + ARelative); }
  std::vector<std::string> ReceiveFolders() const {
    return fs::exists(Base()) ? test::FolderEntries(Base()) : std::vector<std::string>{};
  }
  bool RunUntilEnded(std::uint32_t AId) {
    return Loop.RunUntil([&] { return Wire.Ended(AId); });
  }
  // Runs the main loop until the sender has ended and what it queued has run.
  bool RunUntilSenderEnded() {
    const bool Ended = Loop.RunUntil([&] { return Sync->Sender()->Finished(); });
    Loop.RunPending();
    return Ended;
  }
  void Feed(TClipboardSync& ASync, const TMessages& AMessages) {
    for (const auto& [Cmd, Payload] : AMessages) ASync.HandlePacket(Cmd, Payload);
  }

  test::TTestLoop Loop;
  test::TTempFolder Temp;
  TTestFiles Files;
  test::TMemoryClipboard Clipboard;
  test::TWire Wire;
  std::vector<std::string> Notes;
  TLocalTime Now{2024, 3, 5, 7, 8, 9, 12};
  std::unique_ptr<TClipboardSync> Sync;  // last: goes first
};

TEST(SafeRelativeNameTest, KeepsRelativeNamesInsideTheFolderAndRejectsTheRest) {
  const std::string Units240(240, 'a');
  const std::string Emoji120 = Repeat("\xF0\x9F\x98\x80", 120);  // 240 UTF-16 units
  const std::vector<std::pair<std::string, std::string>> Cases = {
      {"a.txt", "a.txt"},
      {"docs/a.txt", "docs/a.txt"},
      {"docs\\a.txt", "docs/a.txt"},
      {"pasta\\relatório final.pdf", "pasta/relatório final.pdf"},
      {".config\\x", ".config/x"},
      {Units240, Units240},
      {Emoji120, Emoji120},
      {Units240 + "b", ""},
      {Emoji120 + "b", ""},
      {"", ""},
      {"..\\x", ""},
      {"a\\..\\..\\x", ""},
      {".", ""},
      {"a\\.\\b", ""},
      {"\\x", ""},
      {"/x", ""},
      {"C:\\x", ""},
      {"a\\\\b", ""},
      {"a\\", ""},
      {" a", ""},
      {"a ", ""},
      {"a\\ b", ""},
      {"a\t", ""},
      {"a\x01"
       "b",
       ""},
      {"a\"b", ""},
      {"a*b", ""},
      {"a:b", ""},
      {"a<b", ""},
      {"a>b", ""},
      {"a?b", ""},
      {"a|b", ""},
      // Parts that Windows would store under another name or read as a device.
      {"a.", ""},
      {"dir.\\x", ""},
      {"a..", ""},
      {"CON", ""},
      {"con", ""},
      {"Prn.txt", ""},
      {"aux.tar.gz", ""},
      {"NUL", ""},
      {"dir\\nul.txt", ""},
      {"COM1", ""},
      {"com9.log", ""},
      {"LPT1", ""},
      {"lpt9.txt", ""},
      {"COM\xC2\xB9", ""},
      {"CON .txt", ""},
      {"CONSOLE", "CONSOLE"},
      {"COM10", "COM10"},
      {"LPT", "LPT"},
      {"nul_x", "nul_x"},
      {"xcon.txt", "xcon.txt"},
      {"dir\\COMA", "dir/COMA"},
  };
  for (const auto& [Name, Expected] : Cases) EXPECT_EQ(SafeRelativeName(Name), Expected) << Name;
}

// --- sending ---

TEST_F(ClipboardSyncTest, SendsFoldersBeforeTheirContentAndFilesInPiecesAsTheyAreRead) {
  std::string Big(65537, '\0');
  for (std::size_t I = 0; I < Big.size(); ++I) Big[I] = static_cast<char>('a' + I % 26);
  test::WriteFile(Source("Top/empty.txt"), "");
  test::WriteFile(Source("Top/big.bin"), Big);
  test::WriteFile(Source("Top/sub/x.txt"), "xyz");
  test::WriteFile(Source("Top/bad:name.txt"), "the receiver would refuse the transfer");
  fs::create_directory_symlink(Source("Top/sub"), Source("Top/link"));
  fs::create_symlink(Source("Top/sub/x.txt"), Source("Top/filelink"));
  ASSERT_EQ(mkfifo(Source("Top/pipe").c_str(), 0600), 0);
  std::vector<int> ReadsAtSend;  // reads made when each data message went out
  Wire.BeforeSend = [&](std::uint8_t ACmd, const TIdBytes&) {
    if (ACmd == cmdClipFileData) ReadsAtSend.push_back(Files.Reads.load());
    return true;
  };

  // A missing path is skipped, a trailing "/" is dropped, and the text beside the list is not
  // looked at.
  Clipboard.CopyFiles({Source("missing"), Source("Top") + "/"}, std::string("texto junto"));
  ASSERT_TRUE(RunUntilEnded(1));
  ASSERT_TRUE(Loop.RunUntil([&] { return !Notes.empty(); }));

  const auto Messages = Wire.Messages();
  ASSERT_GE(Messages.size(), 2u);
  EXPECT_EQ(Messages.front().Cmd, cmdClipFilesBegin);
  EXPECT_EQ(Messages.front().Payload, BeginPayload(1, 7, 65537 + 3 + 3));
  EXPECT_EQ(Messages.back().Cmd, cmdClipFilesEnd);
  EXPECT_EQ(Messages.back().Payload, EndPayload(1, 1));

  struct TSeen {
    bool IsDir = false;
    std::uint64_t Size = 0;
    std::string Data;
    std::vector<std::size_t> Pieces;
  };
  std::map<std::string, TSeen> Seen;
  std::vector<std::string> Order;
  for (std::size_t I = 1; I + 1 < Messages.size(); ++I) {
    const auto& Message = Messages[I];
    EXPECT_EQ(Message.Id(), 1u);
    if (Message.Cmd == cmdClipFileEntry) {
      Order.push_back(Message.Text(13));
      Seen[Order.back()] = TSeen{Message.Payload[12] != 0, U64At(Message.Payload, 4), "", {}};
    } else {
      ASSERT_EQ(Message.Cmd, cmdClipFileData);
      ASSERT_FALSE(Order.empty());
      Seen[Order.back()].Data += Message.Text(4);
      Seen[Order.back()].Pieces.push_back(Message.Size - 4);
    }
  }
  // The pipe and the name with ":" are left out; the link to a folder comes without content.
  EXPECT_EQ(std::set<std::string>(Order.begin(), Order.end()),
            (std::set<std::string>{"Top", "Top\\empty.txt", "Top\\big.bin", "Top\\sub",
                                   "Top\\sub\\x.txt", "Top\\link", "Top\\filelink"}));
  for (std::size_t I = 0; I < Order.size(); ++I) {
    const std::size_t Cut = Order[I].rfind('\\');
    if (Cut == std::string::npos) continue;
    const auto Before = Order.begin() + static_cast<std::ptrdiff_t>(I);
    EXPECT_NE(std::find(Order.begin(), Before, Order[I].substr(0, Cut)), Before)
        << Order[I] << " came before its folder";
  }
  EXPECT_TRUE(Seen["Top"].IsDir);
  EXPECT_TRUE(Seen["Top\\sub"].IsDir);
  EXPECT_TRUE(Seen["Top\\link"].IsDir);
  EXPECT_EQ(Seen["Top\\big.bin"].Size, 65537u);
  EXPECT_EQ(Seen["Top\\big.bin"].Pieces, (std::vector<std::size_t>{65536, 1}));
  EXPECT_TRUE(Seen["Top\\big.bin"].Data == Big);
  EXPECT_FALSE(Seen["Top\\empty.txt"].IsDir);
  EXPECT_TRUE(Seen["Top\\empty.txt"].Pieces.empty());
  EXPECT_EQ(Seen["Top\\filelink"].Data, "xyz");

  // Streaming: every piece was read just before it went out, none larger than 64 KiB.
  for (std::size_t I = 0; I < ReadsAtSend.size(); ++I)
    EXPECT_EQ(ReadsAtSend[I], static_cast<int>(I + 1));
  EXPECT_LE(Files.LargestRead.load(), ClipChunkBytes);
  EXPECT_EQ(Notes, std::vector<std::string>{
                       "7 item(ns) copiado(s) para a área de transferência do outro computador."});
}

TEST_F(ClipboardSyncTest, WalkPassesAtTheLimitsAndStopsOneBeyondWithoutSendingAnything) {
  // Only the header matters here: the first entry fails to go out, which ends the transfer.
  Wire.BeforeSend = [](std::uint8_t ACmd, const TIdBytes&) { return ACmd != cmdClipFileEntry; };
  const auto Copy = [&](const std::string& AName) {
    Wire.Clear();
    Notes.clear();
    Clipboard.CopyFiles({Source(AName)});
    EXPECT_TRUE(RunUntilSenderEnded());
    return Wire.Messages();
  };

  // A folder with 4999 files is 5000 entries (hard links of one file: far quicker to make).
  test::WriteFile(Source("many/f0"), "");
  for (int I = 1; I < 4999; ++I)
    fs::create_hard_link(Source("many/f0"), Source("many/f" + std::to_string(I)));
  auto Sent = Copy("many");
  ASSERT_EQ(Sent.size(), 1u);
  EXPECT_EQ(U32At(Sent[0].Payload, 4), 5000u);
  EXPECT_TRUE(Notes.empty());
  fs::create_hard_link(Source("many/f0"), Source("many/one-more"));
  EXPECT_TRUE(Copy("many").empty());
  EXPECT_EQ(Notes, std::vector<std::string>{LimitText});

  // Two sparse files of 100 MiB each are exactly the byte limit.
  fs::create_directories(Source("big"));
  for (const char* Name : {"big/a", "big/b"}) {
    std::ofstream(Source(Name));
    fs::resize_file(Source(Name), ClipMaxBytes / 2);
  }
  Sent = Copy("big");
  ASSERT_EQ(Sent.size(), 1u);
  EXPECT_EQ(U64At(Sent[0].Payload, 8), ClipMaxBytes);
  EXPECT_TRUE(Notes.empty());
  test::WriteFile(Source("big/c"), "x");
  EXPECT_TRUE(Copy("big").empty());
  EXPECT_EQ(Notes, std::vector<std::string>{LimitText});
}

TEST_F(ClipboardSyncTest, CopyingAgainOrEndingTheSessionCutsARunningTransferShort) {
  test::WriteFile(Source("small.txt"), "abc");
  std::ofstream(Source("large.bin"));
  fs::resize_file(Source("large.bin"), 8 * 1048576);
  enum TAction { aCopyFiles, aCopyText, aDeactivate };
  for (const TAction Action : {aCopyFiles, aCopyText, aDeactivate}) {
    SCOPED_TRACE(Action);
    std::atomic<const TClipFileSender*> Watched{nullptr};
    std::atomic<bool> Held{false};
    // The first data message waits until the transfer is asked to stop.
    Wire.BeforeSend = [&](std::uint8_t ACmd, const TIdBytes&) {
      if (ACmd == cmdClipFileData && !Held.exchange(true))
        while (!Watched.load() || !Watched.load()->Terminated()) std::this_thread::sleep_for(1ms);
      return true;
    };
    Sync->Activate(Wire.Func());
    Wire.Clear();
    Notes.clear();

    Clipboard.CopyFiles({Source("large.bin")});
    const std::uint32_t Id = Sync->Sender()->Id();
    ASSERT_TRUE(Loop.RunUntil([&] { return Held.load(); }));
    Watched = Sync->Sender();
    if (Action == aCopyFiles) {
      Clipboard.CopyFiles({Source("small.txt")});
      ASSERT_TRUE(RunUntilEnded(Id + 1));
    } else if (Action == aCopyText) {
      Clipboard.CopyText("oi");
    } else {
      Sync->Deactivate();
    }
    Sync->Deactivate();  // nothing runs on while the gate goes
    Loop.RunPending();
    Wire.BeforeSend = nullptr;

    const auto Messages = Wire.Messages();
    std::size_t End = 0;
    while (End < Messages.size() && Messages[End].Cmd != cmdClipFilesEnd) ++End;
    ASSERT_LT(End, Messages.size());
    EXPECT_EQ(Messages[End].Payload, EndPayload(Id, 0));
    std::vector<std::uint8_t> After;
    for (std::size_t I = End + 1; I < Messages.size(); ++I) After.push_back(Messages[I].Cmd);
    if (Action == aCopyFiles) {
      ASSERT_EQ(After, (std::vector<std::uint8_t>{cmdClipFilesBegin, cmdClipFileEntry,
                                                  cmdClipFileData, cmdClipFilesEnd}));
      EXPECT_EQ(Messages[End + 1].Id(), Id + 1);
      EXPECT_EQ(Messages.back().Payload, EndPayload(Id + 1, 1));
      EXPECT_EQ(Notes, std::vector<std::string>{"1 item(ns) copiado(s) para a área de "
                                                "transferência do outro computador."});
    } else if (Action == aCopyText) {
      ASSERT_EQ(After, std::vector<std::uint8_t>{cmdClipText});
      EXPECT_EQ(Messages.back().Text(), "oi");
      EXPECT_TRUE(Notes.empty());
    } else {
      EXPECT_TRUE(After.empty());
      EXPECT_TRUE(Notes.empty());
    }
  }
}

TEST_F(ClipboardSyncTest, AFailedSendEndsTheTransferWithoutItsEnd) {
  test::WriteFile(Source("f.bin"), std::string(3 * ClipChunkBytes, 'x'));
  int Pieces = 0;
  Wire.BeforeSend = [&](std::uint8_t ACmd, const TIdBytes&) {
    return ACmd != cmdClipFileData || ++Pieces < 2;
  };
  Clipboard.CopyFiles({Source("f.bin")});
  ASSERT_TRUE(RunUntilSenderEnded());
  const auto Messages = Wire.Messages();
  ASSERT_EQ(Messages.size(), 3u);  // 112, 113 and the first 114; the second 114 failed
  EXPECT_EQ(Messages.back().Cmd, cmdClipFileData);
  EXPECT_TRUE(Notes.empty());
}

TEST_F(ClipboardSyncTest, TextUpToTheLimitInUtf16UnitsIsSent) {
  const std::string Emoji = Repeat("\xF0\x9F\x98\x80", ClipMaxTextUnits / 2);  // 4 MiB
  const std::vector<std::pair<std::string, bool>> Cases = {
      {std::string(ClipMaxTextUnits, 'a'), true},
      {std::string(ClipMaxTextUnits + 1, 'a'), false},
      {Emoji, true},
      {Emoji + "a", false},
      {Repeat("é", ClipMaxTextUnits), true},
      {"", false},
  };
  for (std::size_t I = 0; I < Cases.size(); ++I) {
    SCOPED_TRACE(I);
    Wire.Clear();
    Clipboard.CopyText(Cases[I].first);
    const auto Messages = Wire.Messages();
    if (!Cases[I].second) {
      EXPECT_TRUE(Messages.empty());
      continue;
    }
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Cmd, cmdClipText);
    EXPECT_TRUE(Messages[0].Text() == Cases[I].first);
  }
}

TEST_F(ClipboardSyncTest, ReceivedTextIsOnTheClipboardAtOnceAndNotSentBack) {
  // Notified during the write with the owner known (Qt), or notified later and recognised by
  // the sequence number alone.
  for (const bool Immediate : {true, false}) {
    SCOPED_TRACE(Immediate);
    test::TMemoryClipboard Board;
    Board.ReportsOwner = Immediate;
    Board.NotifiesOwnWrites = Immediate;
    auto Own = NewSync(Board);
    Own->Activate(Wire.Func());
    Wire.Clear();

    Own->HandlePacket(cmdClipText, TextToBytes("olá, \xF0\x9F\x98\x80"));
    EXPECT_EQ(Board.Text, "olá, \xF0\x9F\x98\x80");
    Board.DeliverPending();
    Own->HandlePacket(cmdClipText, {});
    EXPECT_EQ(Board.Text, "");
    Board.DeliverPending();
    EXPECT_EQ(Wire.Count(), 0u);

    Board.CopyText("local");
    EXPECT_EQ(Wire.Count(), 1u);
  }
}

// The receiving side holds to the sending side's limit, counted in UTF-16 units (a character
// beyond U+FFFF counts two). A refused text changes nothing on the clipboard and drops an
// unfinished incoming transfer, as any failed receive does.
TEST_F(ClipboardSyncTest, ReceivedTextOverTheLimitInUtf16UnitsIsRefused) {
  const std::string Emoji = "\xF0\x9F\x98\x80";
  const std::string Refused = ReceiveFailed + "texto além do limite de 2.097.152 caracteres";
  const std::vector<std::pair<std::string, bool>> Cases = {
      {std::string(ClipMaxTextUnits, 'a'), true},
      {std::string(ClipMaxTextUnits + 1, 'a'), false},
      {std::string(ClipMaxTextUnits - 2, 'a') + Emoji, true},
      {std::string(ClipMaxTextUnits - 1, 'a') + Emoji, false},
      {Repeat(Emoji, ClipMaxTextUnits / 2), true},
      {Repeat("é", ClipMaxTextUnits + 1), false},
      {std::string(16 * 1048576, 'a'), false},
  };
  for (std::size_t I = 0; I < Cases.size(); ++I) {
    SCOPED_TRACE(I);
    const auto& [Text, Accepted] = Cases[I];
    test::TMemoryClipboard Board;
    Board.Text = "antes";
    auto Receiver = NewSync(Board);
    Receiver->Activate(Wire.Func());
    Notes.clear();
    Receiver->HandlePacket(cmdClipFilesBegin, BeginPayload(1, 1, 3));
    Receiver->HandlePacket(cmdClipFileEntry, EntryPayload(1, 3, false, "a.txt"));
    Receiver->HandlePacket(cmdClipText, TextToBytes(Text));
    EXPECT_TRUE(ReceiveFolders().empty());
    EXPECT_TRUE(Board.Text == (Accepted ? Text : "antes"));
    EXPECT_EQ(Board.Writes, Accepted ? 1 : 0);
    EXPECT_EQ(Notes, Accepted ? std::vector<std::string>{} : std::vector<std::string>{Refused});
    EXPECT_TRUE(Receiver->Active());
  }
}

TEST_F(ClipboardSyncTest, InactiveItIgnoresChangesAndMessages) {
  Sync->Deactivate();
  Clipboard.CopyText("copied while inactive");
  Clipboard.CopyFiles({Source("x")});
  Sync->HandlePacket(cmdClipText, TextToBytes("remote"));
  Sync->HandlePacket(cmdClipFilesBegin, BeginPayload(1, 0, 0));
  EXPECT_EQ(Clipboard.Writes, 0);
  EXPECT_FALSE(fs::exists(Base()));
  EXPECT_EQ(Sync->Sender(), nullptr);

  // What the clipboard holds when sharing starts stays here; later copies go.
  Sync->Activate(Wire.Func());
  EXPECT_EQ(Wire.Count(), 0u);
  Clipboard.CopyText("now");
  EXPECT_EQ(Wire.Count(), 1u);

  Sync.reset();
  EXPECT_FALSE(Clipboard.Listening());
}

// --- receiving ---

TEST_F(ClipboardSyncTest, ACompleteTransferIsStoredAndItsTopLevelItemsOffered) {
  const std::string Dir = Base() + "/clip-20240305-070809012";
  Sync->HandlePacket(cmdClipFilesBegin, BeginPayload(7, 5, 15));
  EXPECT_TRUE(fs::is_directory(Dir));
  Sync->HandlePacket(cmdClipFileEntry, EntryPayload(7, 0, true, "A"));
  Sync->HandlePacket(cmdClipFileEntry, EntryPayload(7, 10, false, "A\\b.txt"));
  // Data is on disk as soon as it arrives.
  Sync->HandlePacket(cmdClipFileData, DataPayload(7, "hello"));
  EXPECT_EQ(fs::file_size(Dir + "/A/b.txt"), 5u);
  Sync->HandlePacket(cmdClipFileData, DataPayload(7, "world"));
  EXPECT_EQ(fs::file_size(Dir + "/A/b.txt"), 10u);
  Sync->HandlePacket(cmdClipFileEntry, EntryPayload(7, 5, false, "c.txt"));
  Sync->HandlePacket(cmdClipFileData, DataPayload(7, "12345"));
  Sync->HandlePacket(cmdClipFileEntry, EntryPayload(7, 0, false, "docs/a.txt"));
  Sync->HandlePacket(cmdClipFileEntry, EntryPayload(7, 0, true, "a"));  // not "A" here
  EXPECT_TRUE(Notes.empty());
  EXPECT_FALSE(Clipboard.Files);
  Sync->HandlePacket(cmdClipFilesEnd, EndPayload(7, 1));

  EXPECT_EQ(test::ReadFile(Dir + "/A/b.txt"), "helloworld");
  EXPECT_EQ(test::ReadFile(Dir + "/c.txt"), "12345");
  EXPECT_TRUE(fs::is_regular_file(Dir + "/docs/a.txt"));
  ASSERT_TRUE(Clipboard.Files);
  EXPECT_EQ(*Clipboard.Files,
            (std::vector<std::string>{Dir + "/A", Dir + "/c.txt", Dir + "/docs", Dir + "/a"}));
  EXPECT_EQ(Notes, std::vector<std::string>{"4 item(ns) recebido(s) na área de transferência. "
                                            "Use Colar para salvar."});
  EXPECT_EQ(Wire.Count(), 0u);  // the list put on the clipboard is not sent back
  for (const char* Folder : {"cache", "cache/halvora", "cache/halvora/clipboard"}) {
    EXPECT_EQ(ModeOf(Temp.Path(Folder)), 0700) << Folder;
  }

  // Another transfer in the same millisecond gets a folder of its own; ending the session drops
  // it while it is open, and leaves the completed one alone.
  Sync->HandlePacket(cmdClipFilesBegin, BeginPayload(8, 1, 0));
  EXPECT_TRUE(fs::is_directory(Dir + "-2"));
  Sync->Deactivate();
  EXPECT_EQ(ReceiveFolders(), std::vector<std::string>{"clip-20240305-070809012"});

  // The next program start deletes what earlier runs received.
  auto NextRun = NewSync(Clipboard);
  EXPECT_FALSE(fs::exists(Base()));
}

TEST_F(ClipboardSyncTest, TransfersThatFailOrAreCutShortLeaveNoFolderBehind) {
  Files.FullName = "full.bin";
  const auto Begin = [](std::uint32_t ACount, std::uint64_t ATotal) {
    return std::make_pair(cmdClipFilesBegin, BeginPayload(1, ACount, ATotal));
  };
  const auto File = [](const std::string& AName, std::int64_t ASize) {
    return std::make_pair(cmdClipFileEntry, EntryPayload(1, ASize, false, AName));
  };
  const auto Folder = [](const std::string& AName) {
    return std::make_pair(cmdClipFileEntry, EntryPayload(1, 0, true, AName));
  };
  const auto Data = [](const std::string& AData) {
    return std::make_pair(cmdClipFileData, DataPayload(1, AData));
  };
  const auto End = [](std::uint8_t AOk) {
    return std::make_pair(cmdClipFilesEnd, EndPayload(1, AOk));
  };
  struct TCase {
    const char* What;
    TMessages Messages;
    std::string Note;
    std::optional<std::string> Text;
  };
  const std::vector<TCase> Cases = {
      {"cut short by the sender", {Begin(1, 3), File("a.txt", 3), Data("abc"), End(0)}, "", {}},
      {"no entry", {Begin(0, 0), End(1)}, "", {}},
      {"data past the total",
       {Begin(1, 3), File("a.txt", 4), Data("abcd"), End(1)},
       ReceiveFailed + "dados além do tamanho anunciado",
       {}},
      {"more entries than announced",
       {Begin(1, 0), Folder("a"), Folder("b"), End(1)},
       ReceiveFailed + "mais itens que os anunciados",
       {}},
      {"parent reference",
       {Begin(2, 0), Folder("ok"), Folder("..\\x"), End(1)},
       ReceiveFailed + "nome de arquivo inválido",
       {}},
      {"device name",
       {Begin(1, 0), File("docs\\CON.txt", 0), End(1)},
       ReceiveFailed + "nome de arquivo inválido",
       {}},
      {"full disk",
       {Begin(1, 5), File("full.bin", 5), Data("12345"), End(1)},
       ReceiveFailed + std::strerror(ENOSPC),
       {}},
      {"text during the transfer",
       {Begin(1, 3), File("a.txt", 3), Data("abc"),
        std::make_pair(cmdClipText, TextToBytes("texto")), End(1)},
       "",
       "texto"},
      {"header over the byte limit", {Begin(1, ClipMaxBytes + 1), Folder("a"), End(1)}, "", {}},
      {"header over the entry limit", {Begin(ClipMaxEntries + 1, 0), Folder("a"), End(1)}, "", {}},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.What);
    test::TMemoryClipboard Board;
    auto Receiver = NewSync(Board);
    Receiver->Activate(Wire.Func());
    Notes.clear();
    Feed(*Receiver, Case.Messages);
    EXPECT_TRUE(ReceiveFolders().empty());
    EXPECT_FALSE(Board.Files);
    EXPECT_EQ(Board.Text, Case.Text);
    EXPECT_EQ(Notes,
              Case.Note.empty() ? std::vector<std::string>{} : std::vector<std::string>{Case.Note});
    EXPECT_TRUE(Receiver->Active());
  }
}

TEST_F(ClipboardSyncTest, MessagesOfOtherTransfersAndMalformedOnesAreIgnored) {
  Feed(*Sync, {
                  {cmdClipFilesBegin, BeginPayload(1, 1, 0)},
                  {cmdClipFileEntry, EntryPayload(1, 0, true, "old")},
                  {cmdClipFilesBegin, BeginPayload(2, 4, 3)},  // drops transfer 1
                  {cmdClipFileEntry, EntryPayload(3, 0, true, "other")},
                  {cmdClipFileEntry, EntryPayload(2, 0, true, "")},  // 13 bytes
                  {cmdClipFileData, DataPayload(2, "abc")},          // no file open
                  {cmdClipFileEntry, EntryPayload(2, 0, true, "d")},
                  {cmdClipFileData, DataPayload(2, "abc")},  // a folder takes no data
                  {cmdClipFileEntry, EntryPayload(2, 3, false, "f")},
                  {cmdClipFileData, DataPayload(3, "zzz")},
                  {cmdClipFileData, DataPayload(2, "")},
                  {cmdClipFileData, DataPayload(2, "abc")},  // exactly the total
                  {cmdClipFilesEnd, EndPayload(3, 1)},
                  {cmdClipFilesEnd, TIdBytes{2, 0, 0, 0, 1, 0}},
                  {cmdSecureAttention, {}},
                  {cmdClipFilesEnd, EndPayload(2, 1)},
              });
  const std::string Dir = Base() + "/clip-20240305-070809012";
  EXPECT_EQ(ReceiveFolders(), std::vector<std::string>{"clip-20240305-070809012"});
  EXPECT_EQ(test::FolderEntries(Dir), (std::vector<std::string>{"d", "f"}));
  EXPECT_EQ(test::ReadFile(Dir + "/f"), "abc");
  ASSERT_TRUE(Clipboard.Files);
  EXPECT_EQ(*Clipboard.Files, (std::vector<std::string>{Dir + "/d", Dir + "/f"}));
  EXPECT_EQ(Notes, std::vector<std::string>{"2 item(ns) recebido(s) na área de transferência. "
                                            "Use Colar para salvar."});

  // The limits themselves are allowed.
  Feed(*Sync, {{cmdClipFilesBegin, BeginPayload(9, ClipMaxEntries, ClipMaxBytes)},
               {cmdClipFileEntry, EntryPayload(9, 0, true, "z")},
               {cmdClipFilesEnd, EndPayload(9, 1)}});
  EXPECT_EQ(ReceiveFolders().size(), 2u);
}

}  // namespace
}  // namespace halvora
