// The web console keeps its own copy of the message numbers (tools/webviewer/protocol.js);
// it must stay equal to the catalogue here.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "protocol/uProtocol.h"

namespace halvora {
namespace {

// The entries "Name: number" of the object "export const Cmd = { ... };".
std::map<std::string, int> WebViewerCommands() {
  std::ifstream File(HALVORA_WEBVIEWER_PROTOCOL_JS);
  std::stringstream Text;
  Text << File.rdbuf();
  const std::string Source = Text.str();
  const std::size_t Start = Source.find("export const Cmd = {");
  const std::size_t End = Source.find("};", Start);
  if (Start == std::string::npos || End == std::string::npos) return {};
  const std::string Body = Source.substr(Start, End - Start);
  std::map<std::string, int> Commands;
  const std::regex Entry(R"(([A-Za-z]+)\s*:\s*(\d+))");
  for (auto It = std::sregex_iterator(Body.begin(), Body.end(), Entry);
       It != std::sregex_iterator(); ++It)
    Commands[(*It)[1]] = std::stoi((*It)[2]);
  return Commands;
}

TEST(WebViewerCommandsTest, EqualTheCatalogue) {
  const std::map<std::string, int> Expected = {
      {"Hello", cmdHello},
      {"Welcome", cmdWelcome},
      {"SessionEnded", cmdSessionEnded},
      {"End", cmdHostEnd},
      {"Refused", cmdRefused},
      {"ConnectHost", cmdConnectHost},
      {"ConnectResult", cmdConnectResult},
      {"RelayError", cmdRelayError},
      {"Challenge", cmdChallenge},
      {"Proof", cmdProof},
      {"AccessResult", cmdAccessResult},
      {"Frame", cmdFrame},
      {"FrameAck", cmdFrameAck},
      {"Mouse", cmdMouse},
      {"Key", cmdKey},
      {"MonitorInfo", cmdMonitorInfo},
      {"SelectMonitor", cmdSelectMonitor},
      {"BlockInput", cmdBlockInput},
      {"BlockState", cmdBlockState},
      {"ClipText", cmdClipText},
      {"ClipFilesBegin", cmdClipFilesBegin},
      {"ClipFileEntry", cmdClipFileEntry},
      {"ClipFileData", cmdClipFileData},
      {"ClipFilesEnd", cmdClipFilesEnd},
      {"SecureAttention", cmdSecureAttention},
  };
  EXPECT_EQ(WebViewerCommands(), Expected);
}

}  // namespace
}  // namespace halvora
