#include "e2e/uHostSeam.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace halvora::test {
namespace {

std::string Env(const char* AName) {
  const char* Value = std::getenv(AName);
  return Value ? Value : "";
}

std::uint32_t SinceStart() {
  static const auto Start = std::chrono::steady_clock::now();
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - Start)
                                        .count());
}

// The real clock, with long waits recorded and shortened.
class TSeamClock final : public IClock {
 public:
  explicit TSeamClock(THostSeam& ASeam) : FSeam(ASeam) {}
  std::uint32_t GetTickCount() override { return SystemClock().GetTickCount(); }
  bool WaitFor(TEvent& AEvent, std::uint32_t AMilliseconds) override {
    if (AMilliseconds == InfiniteWait || AMilliseconds < 60000)
      return SystemClock().WaitFor(AEvent, AMilliseconds);
    FSeam.NoteWait(AMilliseconds);
    return SystemClock().WaitFor(AEvent, 1000);
  }

 private:
  THostSeam& FSeam;
};

// The real transports, with every connection attempt recorded.
class TSeamTransports final : public ITransportFactory {
 public:
  TSeamTransports(THostSeam& ASeam, std::shared_ptr<ITransportFactory> AInner)
      : FSeam(ASeam), FInner(std::move(AInner)) {}
  std::shared_ptr<IRelayTransport> NewTransport() override {
    FSeam.NoteAttempt();
    return FInner->NewTransport();
  }

 private:
  THostSeam& FSeam;
  std::shared_ptr<ITransportFactory> FInner;
};

}  // namespace

TSeamPoll::TSeamPoll(std::function<void()> AOnPoll) : FOnPoll(std::move(AOnPoll)) { Start(); }

TSeamPoll::~TSeamPoll() {
  Terminate();
  FStop.SetEvent();
  StopThread();
}

void TSeamPoll::Execute() {
  while (!Terminated()) {
    SystemClock().WaitFor(FStop, 100);
    Queue(FOnPoll);
  }
}

THostSeam::THostSeam(TMainEnvironment& AEnv)
    : FView(AEnv.View),
      FDialogs(AEnv.Dialogs),
      FClock(std::make_unique<TSeamClock>(*this)),
      FStatePath(Env("HALVORA_TEST_STATE")),
      FCommandsPath(Env("HALVORA_TEST_COMMANDS")) {
  SinceStart();
  AEnv.View = this;
  AEnv.Dialogs = this;
  AEnv.Relay.Clock = FClock.get();
  AEnv.Relay.Transports = std::make_shared<TSeamTransports>(*this, AEnv.Relay.Transports);
}

THostSeam::~THostSeam() { FPoll.reset(); }

void THostSeam::Attach(TfrmMain& AController) {
  FController = &AController;
  FPoll = std::make_unique<TSeamPoll>([this] {
    RunCommands();
    WriteState();
  });
  WriteState();
}

void THostSeam::ModelChanged() {
  FView->ModelChanged();
  WriteState();
}
void THostSeam::ShowBalloon(const std::string& ATitle, const std::string& AText) {
  FView->ShowBalloon(ATitle, AText);
}
void THostSeam::MinimizeApplication() { FView->MinimizeApplication(); }
void THostSeam::RestoreApplication() { FView->RestoreApplication(); }
void THostSeam::ShowMainWindow() { FView->ShowMainWindow(); }
void THostSeam::HideMainWindow() { FView->HideMainWindow(); }
void THostSeam::TerminateApplication() { FView->TerminateApplication(); }

bool THostSeam::Confirm(const std::string&) { return true; }
void THostSeam::Inform(const std::string& AText) { FInforms.push_back(AText); }
bool THostSeam::Input(const std::string&, const std::string&, std::string&) { return false; }

void THostSeam::NoteAttempt() {
  std::lock_guard Lock(FLock);
  FAttempts.push_back(SinceStart());
}

void THostSeam::NoteWait(std::uint32_t AMilliseconds) {
  std::lock_guard Lock(FLock);
  FWaits.push_back(AMilliseconds);
}

void THostSeam::WriteState() {
  if (!FController || FStatePath.empty()) return;
  const TMainWindowModel& M = FController->Model();
  nlohmann::json State{{"id", FController->MyId()},
                       {"password", FController->Password()},
                       {"caption", M.Caption},
                       {"title", M.lblTitle.Text},
                       {"status", M.lblStatus.Text},
                       {"fixed", M.lblFixed.Visible ? M.lblFixed.Text : ""},
                       {"role", static_cast<int>(FController->Role())},
                       {"informs", FInforms},
                       {"now", SinceStart()}};
  {
    std::lock_guard Lock(FLock);
    State["attempts"] = FAttempts;
    State["waits"] = FWaits;
  }
  // Written aside and renamed, so a reader never sees half a file.
  const std::string Temporary = FStatePath + ".tmp";
  std::ofstream(Temporary, std::ios::trunc) << State.dump();
  std::error_code Error;  // a reader holding the file open on Windows: the next write wins
  std::filesystem::rename(Temporary, FStatePath, Error);
}

void THostSeam::RunCommands() {
  if (!FController || FCommandsPath.empty()) return;
  std::ifstream In(FCommandsPath);
  std::stringstream All;
  All << In.rdbuf();
  const std::string Text = All.str();
  while (true) {
    const std::size_t End = Text.find('\n', FCommandsRead);
    if (End == std::string::npos) return;
    const std::string Command = Text.substr(FCommandsRead, End - FCommandsRead);
    FCommandsRead = End + 1;
    if (Command == "revoke") FController->btnRevokeClick();
    if (Command == "disconnect") FController->btnDisconnectClick();
    if (Command == "new-password") FController->btnNewPasswordClick();
    if (Command == "quit") FView->TerminateApplication();
  }
}

}  // namespace halvora::test
