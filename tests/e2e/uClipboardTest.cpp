// Clipboard sharing through the relay: text both ways, a folder copied on the host arriving
// whole at the viewer, and files sent by the viewer landing on the host's clipboard.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/uEndToEndFixture.h"

namespace halvora::test {
namespace {

namespace fs = std::filesystem;

// A file URI's path with its %XX escapes decoded.
std::string UriPath(const std::string& AUri) {
  std::string Path;
  for (std::size_t I = 7; I < AUri.size(); ++I)
    if (AUri[I] == '%' && I + 2 < AUri.size()) {
      Path += static_cast<char>(std::stoi(AUri.substr(I + 1, 2), nullptr, 16));
      I += 2;
    } else {
      Path += AUri[I];
    }
  return Path;
}

class Clipboard : public TEndToEndTest {
 protected:
  void SetUp() override {
    if (!ProgramOnPath("xclip")) GTEST_SKIP() << "xclip is missing";
  }
  // The host display's clipboard as AType, read with xclip.
  std::string Read(const std::string& AType) {
    const std::string Out = Temp.Path("xclip-out");
    TChildProcess Xclip("/usr/bin/xclip", {"-selection", "clipboard", "-o", "-t", AType},
                        {"DISPLAY=" + X.Display()}, Out);
    Xclip.Wait(10s);
    return ReadFile(Out);
  }
  // Puts AData on it as AType; xclip stays in the background to serve it.
  void Write(const std::string& AType, const std::string& AData) {
    const std::string In = Temp.Path("xclip-in");
    WriteFile(In, AData);
    TChildProcess Xclip("/usr/bin/xclip", {"-selection", "clipboard", "-t", AType, "-i", In},
                        {"DISPLAY=" + X.Display()});
    Xclip.Wait(10s);
  }

  TXvfb X;
};

TEST_F(Clipboard, TextAndFoldersCrossBothWays) {
  auto Relay = StartRelay();
  auto Host = StartHost(*Relay, X.Display());
  ASSERT_TRUE(Host->WaitState(IsReady));
  // What the technician sends: a folder with a file in a subfolder.
  const std::string Outgoing = Folder("outgoing/Relatórios");
  fs::create_directories(Outgoing + "/2026");
  WriteFile(Outgoing + "/2026/dezembro.txt", std::string(100000, 'x'));
  WriteFile(Outgoing + "/leia-me.txt", "olá");

  auto Viewer = Technician(*Relay, *Host,
                           "wait-frames 1\n"
                           "clip-text olá, técnico\n"
                           "wait 1500\n"
                           "clip-files \"" + Outgoing + "\"\n"
                           "wait-for 115 20000\n"
                           "wait 500\nend\n");
  EXPECT_TRUE(WaitUntil([&] { return Read("UTF8_STRING") == "olá, técnico"; }, 15s))
      << Viewer->Output();

  // The technician's folder lands in the host's cache and on its clipboard as a file list.
  std::string UriList;
  ASSERT_TRUE(WaitUntil([&] {
    UriList = Read("text/uri-list");
    return UriList.rfind("file://", 0) == 0;
  }, 15s)) << Viewer->Output();
  const std::string Stored = UriPath(UriList.substr(0, UriList.find_first_of("\r\n")));
  EXPECT_EQ(Stored.rfind(Temp.Path("host/.cache/halvora/clipboard/"), 0), 0u) << Stored;
  EXPECT_EQ(fs::path(Stored).filename(), "Relatórios");
  EXPECT_TRUE(ReadFile(Stored + "/2026/dezembro.txt") == std::string(100000, 'x'));
  EXPECT_EQ(ReadFile(Stored + "/leia-me.txt"), "olá");

  // A folder copied on the host goes to the viewer whole.
  const std::string HostFolder = Folder("host-files/Fotos");
  WriteFile(HostFolder + "/a.bin", std::string(70000, 'a'));
  fs::create_directories(HostFolder + "/vazia");
  Write("text/uri-list", "file://" + HostFolder + "\r\n");
  ASSERT_EQ(Viewer->Wait(), 0) << Viewer->Output() << Viewer->Log();
  fs::path Transfer;
  for (const auto& Entry : fs::directory_iterator(Viewer->Folder() + "/received-files"))
    Transfer = Entry.path();
  EXPECT_TRUE(ReadFile((Transfer / "Fotos/a.bin").string()) == std::string(70000, 'a'));
  EXPECT_TRUE(fs::is_directory(Transfer / "Fotos/vazia"));
}

}  // namespace
}  // namespace halvora::test
