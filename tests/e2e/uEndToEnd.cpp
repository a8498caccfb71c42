#include "e2e/uEndToEnd.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <thread>

namespace halvora::test {
namespace {

namespace http = boost::beast::http;
using boost::asio::ip::tcp;

std::string Fresh(const std::string& AFolder, const std::string& AName) {
  static std::atomic<int> Counter{0};
  return AFolder + "/" + AName + "-" + std::to_string(++Counter);
}

std::string RandomToken() {
  std::random_device Random;
  char Text[33];
  std::snprintf(Text, sizeof Text, "%08x%08x%08x%08x", Random(), Random(), Random(), Random());
  return Text;
}

int CountEntries(const std::string& AFolder, const std::function<bool(const std::string&)>& AKeep) {
  int Count = 0;
  for (const auto& Entry : std::filesystem::directory_iterator(AFolder)) {
    std::error_code Error;
    const auto Target = std::filesystem::read_symlink(Entry.path(), Error);
    if (AKeep(Error ? Entry.path().string() : Target.string())) ++Count;
  }
  return Count;
}

}  // namespace

TRelayProcess::TRelayProcess(const std::string& AFolder, std::uint16_t APort,
                             const std::vector<std::string>& AOptions)
    : FAdminToken(RandomToken()) {
  const std::string PortFile = Fresh(AFolder, "port");
  const std::string TokenFile = Fresh(AFolder, "admin-token");
  WriteFile(TokenFile, FAdminToken + "\n");
  ::chmod(TokenFile.c_str(), 0600);
  std::vector<std::string> Args{"--listen",   "127.0.0.1:" + std::to_string(APort),
                                "--db",       AFolder + "/relay.db",
                                "--port-file", PortFile,
                                "--admin-token-file", TokenFile,
                                "--quiet"};
  Args.insert(Args.end(), AOptions.begin(), AOptions.end());
  FProcess = std::make_unique<TChildProcess>(HALVORA_RELAY, Args, std::vector<std::string>{},
                                             Fresh(AFolder, "relay-out"));
  std::string Text;
  if (!WaitUntil([&] {
        Text = ReadFile(PortFile);
        return !Text.empty() && Text.back() == '\n';
      }) &&
      Text.empty())
    throw std::runtime_error("the relay did not start");
  FPort = static_cast<std::uint16_t>(std::stoi(Text));
}

std::string TRelayProcess::Url() const {
  return "ws://127.0.0.1:" + std::to_string(FPort) + "/relay";
}

std::string TRelayProcess::SecureUrl() const {
  return "wss://localhost:" + std::to_string(FPort) + "/relay";
}

void TRelayProcess::Kill(int ASignal) {
  FProcess->Kill(ASignal);
  FProcess->Wait(10s);
}

int TRelayProcess::Http(const std::string& AMethod, const std::string& ATarget,
                        const std::string& ABody) {
  try {
    boost::asio::io_context Io;
    boost::beast::tcp_stream Stream(Io);
    Stream.connect(tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), FPort));
    http::request<http::string_body> Request(http::string_to_verb(AMethod), ATarget, 11);
    Request.set(http::field::host, "127.0.0.1");
    Request.set(http::field::authorization, "Bearer " + FAdminToken);
    Request.body() = ABody;
    Request.prepare_payload();
    http::write(Stream, Request);
    boost::beast::flat_buffer Buffer;
    http::response<http::string_body> Response;
    http::read(Stream, Buffer, Response);
    return static_cast<int>(Response.result_int());
  } catch (const std::exception&) {
    return 0;
  }
}

THostLaunch LinuxHost(const std::string& AFolder, const std::string& ADisplay) {
  const std::string Runtime = AFolder + "/run";
  std::filesystem::create_directories(Runtime);
  chmod(Runtime.c_str(), 0700);
  THostLaunch Launch;
  Launch.Program = HALVORA_TESTHOST;
  Launch.Environment = {"DISPLAY=" + ADisplay, "HOME=" + AFolder,
                        "XDG_CONFIG_HOME=" + AFolder + "/config", "XDG_RUNTIME_DIR=" + Runtime,
                        "QT_QPA_PLATFORM=xcb"};
  Launch.SettingsFile = AFolder + "/config/halvora/halvora.ini";
  return Launch;
}

THostProcess::THostProcess(const std::string& AFolder, const THostLaunch& ALaunch,
                           const std::string& ARelayUrl)
    : FFolder(AFolder) {
  if (ReadFile(ALaunch.SettingsFile).empty())
    WriteFile(ALaunch.SettingsFile, "[Server]\nUrl=" + ARelayUrl + "\n");
  std::filesystem::remove(AFolder + "/state.json");
  WriteFile(AFolder + "/commands", "");
  std::vector<std::string> Environment = ALaunch.Environment;
  Environment.push_back("HALVORA_TEST_STATE=" + ALaunch.HostPath(AFolder + "/state.json"));
  Environment.push_back("HALVORA_TEST_COMMANDS=" + ALaunch.HostPath(AFolder + "/commands"));
  FProcess = std::make_unique<TChildProcess>(ALaunch.Program, ALaunch.Args, Environment);
}

THostProcess::~THostProcess() {
  Command("quit");
  FProcess->Wait(10s);
}

nlohmann::json THostProcess::State() {
  const std::string Text = ReadFile(FFolder + "/state.json");
  return nlohmann::json::parse(Text, nullptr, false).is_discarded()
             ? nlohmann::json::object()
             : nlohmann::json::parse(Text);
}

bool THostProcess::WaitState(const std::function<bool(const nlohmann::json&)>& ACondition,
                             std::chrono::milliseconds ATimeout) {
  return WaitUntil(
      [&] {
        const nlohmann::json S = State();
        return !S.empty() && ACondition(S);
      },
      ATimeout);
}

void THostProcess::Command(const std::string& ACommand) {
  std::ofstream(FFolder + "/commands", std::ios::app) << ACommand << "\n";
}

int THostProcess::Threads() {
  return CountEntries("/proc/" + std::to_string(FProcess->Pid()) + "/task",
                      [](const std::string&) { return true; });
}

int THostProcess::Sockets() {
  return CountEntries("/proc/" + std::to_string(FProcess->Pid()) + "/fd",
                      [](const std::string& ATarget) { return ATarget.rfind("socket:", 0) == 0; });
}

TViewerProcess::TViewerProcess(const std::string& AFolder, const std::string& ARelayUrl,
                               const std::vector<std::string>& AArgs, const std::string& AScript)
    : FOut(Fresh(AFolder, "viewer")) {
  std::filesystem::create_directories(FOut);
  WriteFile(FOut + "/script.txt", AScript);
  std::vector<std::string> Args{"--relay", ARelayUrl, "--out", FOut, "--script",
                                FOut + "/script.txt", "--timeout", "30"};
  Args.insert(Args.end(), AArgs.begin(), AArgs.end());
  FProcess = std::make_unique<TChildProcess>(HALVORA_VIEWER, Args, std::vector<std::string>{},
                                             FOut + "/stdout.txt");
}

int TViewerProcess::Wait(std::chrono::milliseconds ATimeout) {
  return FProcess->Wait(ATimeout).value_or(-1);
}

std::string TViewerProcess::Log() const {
  return ReadFile(FOut + "/received.log");
}

std::string TViewerProcess::Output() const {
  return ReadFile(FOut + "/stdout.txt");
}

}  // namespace halvora::test
