// The Qt clipboard on a private X server, against another X client: xclip.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "clipboard/linux/uPosixClipFiles.h"
#include "clipboard/qt/uQtClipboard.h"
#include "clipboard/uClipboardSync.h"
#include "protocol/uProtocol.h"
#include "support/linux/uChildProcess.h"
#include "support/linux/uXvfb.h"
#include "support/uTestFiles.h"
#include "uClipTestSupport.h"

namespace halvora {
namespace {

using namespace std::chrono_literals;
using test::TChildProcess;

const std::string Xclip = "/usr/bin/xclip";

// The Qt application of these tests, on xcb on a server of its own, made on first use and kept
// until the process ends (Qt cannot be torn down from static destructors).
const std::string& Display() {
  static test::TXvfb Server;
  static int Argc = 1;
  static char Name[] = "clipboard_x11_tests";
  static char* Argv[] = {Name, nullptr};
  if (!QGuiApplication::instance()) {
    qputenv("DISPLAY", Server.Display().c_str());
    qputenv("QT_QPA_PLATFORM", "xcb");
    new QGuiApplication(Argc, Argv);
  }
  return Server.Display();
}

// A text that X clients move in increments (INCR): Qt sends more than 256 KB so, xclip more
// than 1 MiB.
std::string LargeText() {
  std::string Text;
  for (int I = 0; Text.size() < 1200 * 1024; ++I)
    Text += "linha " + std::to_string(I) + ": ação, 日本語, \xF0\x9F\x98\x80\n";
  return Text;
}

class QtClipboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::ProgramOnPath("xclip")) GTEST_SKIP() << "xclip is not installed";
    Env = {"DISPLAY=" + Display()};
    Clipboard = std::make_unique<TQtClipboard>();
    Sync = std::make_unique<TClipboardSync>(
        *Clipboard, Files, Temp.Path("base"), [] { return TLocalTime{2024, 1, 2, 3, 4, 5, 6}; },
        Queue);
    Sync->Activate(Wire.Func());
  }

  // Every xclip ends by losing the clipboard, not by being killed while it owns it: that
  // would be one more change, seen by the next test.
  void TearDown() override {
    Sync.reset();
    if (Clipboard) Clipboard->WriteText("");
    EXPECT_TRUE(Pump([&] {
      for (auto& Copy : FCopies)
        if (Copy->Running()) return false;
      return true;
    }));
    FCopies.clear();
    Clipboard.reset();
  }

  // Runs Qt's events and the main queue until APredicate holds; false after 20 s (a guard
  // against hangs, not a measure).
  bool Pump(const std::function<bool()>& APredicate) {
    const auto Deadline = std::chrono::steady_clock::now() + 20s;
    while (!APredicate()) {
      if (std::chrono::steady_clock::now() >= Deadline) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      Queue.ProcessPending();
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }

  // xclip offers AData as ATarget on the clipboard until something else takes it.
  void CopyElsewhere(const std::string& ATarget, const std::string& AData) {
    const std::string File = Temp.Path("xclip-in-" + std::to_string(++FCount));
    test::WriteFile(File, AData);
    // In the foreground, so that it goes with the test; its chatter on stderr goes nowhere.
    FCopies.push_back(std::make_unique<TChildProcess>(
        "/bin/sh",
        std::vector<std::string>{"-c", "exec " + Xclip + " -quiet -selection clipboard -t '" +
                                           ATarget + "' '" + File + "' 2>/dev/null"},
        Env, "/dev/null"));
  }

  // What xclip pastes from the clipboard as ATarget; our side serves it meanwhile.
  std::string PasteElsewhere(const std::string& ATarget) {
    const std::string File = Temp.Path("xclip-out-" + std::to_string(++FCount));
    TChildProcess Paste(Xclip, {"-selection", "clipboard", "-t", ATarget, "-o"}, Env, File);
    EXPECT_TRUE(Pump([&] { return !Paste.Running(); }));
    return test::ReadFile(File);
  }

  // The names of the entries of transfer AId, in sending order.
  std::vector<std::string> SentNames(std::uint32_t AId) {
    std::vector<std::string> Names;
    for (const auto& Message : Wire.Messages())
      if (Message.Cmd == cmdClipFileEntry && Message.Id() == AId) Names.push_back(Message.Text(13));
    return Names;
  }

  std::vector<std::string> Env;
  TMainQueue Queue;
  test::TTempFolder Temp;
  TPosixClipFiles Files;
  test::TWire Wire;
  std::unique_ptr<TQtClipboard> Clipboard;
  std::unique_ptr<TClipboardSync> Sync;

 private:
  int FCount = 0;
  std::vector<std::unique_ptr<TChildProcess>> FCopies;
};

TEST_F(QtClipboardTest, TextCopiedElsewhereIsSentAsUtf8) {
  for (const std::string& Text :
       {std::string("Olá, ação — 日本語 \xF0\x9F\x98\x80"), LargeText()}) {
    SCOPED_TRACE(Text.size());
    Wire.Clear();
    CopyElsewhere("UTF8_STRING", Text);
    ASSERT_TRUE(Pump([&] { return Wire.Count() > 0; }));
    const auto Messages = Wire.Messages();
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Cmd, cmdClipText);
    EXPECT_TRUE(Messages[0].Text() == Text);
  }
}

TEST_F(QtClipboardTest, ReceivedTextIsPastedElsewhereAndNotSentBack) {
  for (const std::string& Text :
       {std::string("Olá, ação — 日本語 \xF0\x9F\x98\x80"), LargeText()}) {
    SCOPED_TRACE(Text.size());
    Sync->HandlePacket(cmdClipText, TextToBytes(Text));
    EXPECT_TRUE(PasteElsewhere("UTF8_STRING") == Text);
    EXPECT_EQ(Wire.Count(), 0u);
  }
  // Our own text taken over by another program is that program's copy, and goes out.
  CopyElsewhere("UTF8_STRING", "de outro programa");
  ASSERT_TRUE(Pump([&] { return Wire.Count() > 0; }));
  EXPECT_EQ(Wire.Messages()[0].Text(), "de outro programa");
}

TEST_F(QtClipboardTest, FileListsCopiedElsewhereAreSentInEitherFormat) {
  test::WriteFile(Temp.Path("src/a b.txt"), "ab");
  test::WriteFile(Temp.Path("src/pasta/açaí.txt"), "fruta");
  const std::string Root = "file://" + Temp.Path("src");
  const std::string Space = Root + "/a%20b.txt";
  const std::string Folder = Root + "/pasta";
  struct TCase {
    const char* Target;
    std::string Data;
  };
  for (const TCase& Case :
       {TCase{"text/uri-list",
              "# comentário\r\n" + Space + "\r\n" + Folder + "\r\nhttps://example.com/x\r\n"},
        TCase{"x-special/gnome-copied-files", "copy\n" + Space + "\n" + Folder}}) {
    SCOPED_TRACE(Case.Target);
    const std::uint32_t Id = Sync->Sender() ? Sync->Sender()->Id() + 1 : 1;
    CopyElsewhere(Case.Target, Case.Data);
    ASSERT_TRUE(Pump([&] { return Wire.Ended(Id); }));
    const std::vector<std::string> Names = SentNames(Id);
    EXPECT_EQ(std::set<std::string>(Names.begin(), Names.end()),
              (std::set<std::string>{"a b.txt", "pasta", "pasta\\açaí.txt"}));
  }
}

TEST_F(QtClipboardTest, ReceivedFilesArePastedElsewhereInBothFormatsAndNotSentBack) {
  const std::string Dir = Temp.Path("base/clip-20240102-030405006");
  Sync->HandlePacket(cmdClipFilesBegin, test::BeginPayload(5, 3, 2));
  Sync->HandlePacket(cmdClipFileEntry, test::EntryPayload(5, 2, false, "a b.txt"));
  Sync->HandlePacket(cmdClipFileData, test::DataPayload(5, "ab"));
  Sync->HandlePacket(cmdClipFileEntry, test::EntryPayload(5, 0, true, "pasta"));
  Sync->HandlePacket(cmdClipFileEntry, test::EntryPayload(5, 0, true, "pasta\\sub"));
  Sync->HandlePacket(cmdClipFilesEnd, test::EndPayload(5, 1));

  const std::string Space = "file://" + Dir + "/a%20b.txt";
  const std::string Folder = "file://" + Dir + "/pasta";
  EXPECT_EQ(PasteElsewhere("text/uri-list"), Space + "\r\n" + Folder + "\r\n");
  EXPECT_EQ(PasteElsewhere("x-special/gnome-copied-files"), "copy\n" + Space + "\n" + Folder);
  EXPECT_EQ(Wire.Count(), 0u);
}

}  // namespace
}  // namespace halvora
