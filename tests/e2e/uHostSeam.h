#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/uThread.h"
#include "host/uMain.h"

namespace halvora::test {

// Built only into the end-to-end test host, never into the program users get. Lets a test
// in another process see what the window shows and drive it:
// - HALVORA_TEST_STATE names a JSON file rewritten whenever the window changes: ID,
//   password, caption, title, status, permanent-access line, session role, the relay connection
//   attempts (milliseconds since start) and the long waits the relay client asked for.
// - HALVORA_TEST_COMMANDS names a file the test appends lines to: "revoke", "disconnect",
//   "new-password", "quit". Confirmation questions are answered "yes".
// - Waits of 60 s or more are recorded as asked and then cut to 1 s, so a test sees the
//   back-off after a refusal without sleeping through it.
// Every 100 ms, runs AOnPoll on the main thread.
class TSeamPoll final : public TThread {
 public:
  explicit TSeamPoll(std::function<void()> AOnPoll);
  ~TSeamPoll() override;

 protected:
  void Execute() override;

 private:
  const std::function<void()> FOnPoll;
  TEvent FStop{true, false};
};

class THostSeam final : public IMainView, public IDialogs {
 public:
  // Puts itself between the controller and AEnv's view, dialogs, clock and transports.
  explicit THostSeam(TMainEnvironment& AEnv);
  ~THostSeam() override;

  void Attach(TfrmMain& AController);

  // IMainView: forwarded to the window, then the state is written.
  void ModelChanged() override;
  void ShowBalloon(const std::string& ATitle, const std::string& AText) override;
  void MinimizeApplication() override;
  void RestoreApplication() override;
  void ShowMainWindow() override;
  void HideMainWindow() override;
  void TerminateApplication() override;

  // IDialogs: answered without a window.
  bool Confirm(const std::string& AText) override;
  void Inform(const std::string& AText) override;
  bool Input(const std::string& ATitle, const std::string& APrompt, std::string& AValue) override;

  // Called from the relay client's thread.
  void NoteAttempt();
  void NoteWait(std::uint32_t AMilliseconds);

 private:
  void WriteState();
  void RunCommands();

  IMainView* FView;
  IDialogs* FDialogs;
  TfrmMain* FController = nullptr;
  std::unique_ptr<IClock> FClock;
  std::string FStatePath, FCommandsPath;
  std::size_t FCommandsRead = 0;
  std::vector<std::string> FInforms;
  std::unique_ptr<TSeamPoll> FPoll;  // from Attach on

  std::mutex FLock;  // guards the two lists below, filled on the relay client's thread
  std::vector<std::uint32_t> FAttempts, FWaits;
};

}  // namespace halvora::test
