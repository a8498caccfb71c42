#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "uCanvas.h"
#include "uClipTransfer.h"
#include "uFrameDecoder.h"
#include "uViewerConnection.h"
#include "uViewerLog.h"
#include "uViewerOptions.h"
#include "uViewerScript.h"

namespace halvora::viewer {

// Process exit codes.
enum TExitCode : int {
  ecDone = 0,
  ecLocalError = 1,       // command line, output folder, unexpected local failure
  ecNoConnection = 2,     // relay unreachable, TLS or upgrade failed, connection lost
  ecRelayRefused = 3,     // the relay refused the hello or the pairing
  ecPasswordRefused = 4,  // the host refused the proof (or no password was given)
  ecScriptFailed = 5,     // script error or a time-out
  ecSessionEnded = 6,     // the other side ended the session (message 6) during the script
};

// One run of the viewer: connect, log in, get admitted, then run the script (or wait until
// the session ends) while applying frames, acknowledging each, and recording everything
// received under the output folder. Single-threaded.
class TViewer {
 public:
  TViewer(TViewerOptions AOptions, std::ostream& AOut, std::ostream& AErr);
  ~TViewer();
  TViewer(const TViewer&) = delete;
  TViewer& operator=(const TViewer&) = delete;

  int Run();  // the exit code; progress goes to AOut, failures to AErr

 private:
  enum class TPumpEnd { peDone, peTimeout, peOverallTimeout, peEnded };

  void Prepare();
  void Connect();
  void Login();
  void Admit();
  void RunPassive();
  void RunScript();
  void Execute(const TScriptCommand& ACommand);
  void Finish();

  // Receives and handles messages until AStop holds, ADeadline (or the overall limit) passes
  // or the session ends (message 6 or a closed link).
  TPumpEnd Pump(TClock::time_point ADeadline, const std::function<bool()>& AStop);
  // Waits for one of ACommands during log-in and admission; its number. Throws when the time
  // runs out or the session ends.
  std::uint8_t AwaitOneOf(std::initializer_list<std::uint8_t> ACommands, const std::string& AWhat);
  // A script wait: true when AStop held, false when the command's time passed. Throws when
  // the overall time runs out or the session ends.
  bool ScriptWait(const TScriptCommand& ACommand, const std::function<bool()>& AStop);
  // The exit for a session that the other side ended (message 6) or a lost link.
  int EndedCode() const;
  std::string EndedText() const;
  void Handle(std::uint8_t ACmd, TBytes APayload);
  std::string HandleNote(std::uint8_t ACmd, const TBytes& APayload);
  void SendOrEnd(std::uint8_t ACmd, const TBytes& APayload);
  void SendMouse(int AMonitor, int AX, int AY, int AAction, int AWheel);
  void SendKey(std::uint16_t AKey, bool ADown);
  // The command's pixel position on its monitor's picture, on the packet's 0..65535 scale.
  std::uint16_t Scale(const TScriptCommand& ACommand, bool AVertical) const;

  TViewerOptions FOptions;
  std::ostream& FOut;
  std::ostream& FErr;
  TClock::time_point FStart, FDeadline;
  std::filesystem::path FDir;
  TViewerLog FLog;
  TViewerConnection FConn;
  TCanvasSet FCanvases;
  TFrameDecoder FDecoder;
  std::unique_ptr<TClipReceiver> FClip;
  std::vector<TScriptCommand> FScript;
  const TScriptCommand* FRunning = nullptr;  // the script line being executed

  bool FWelcomed = false, FAdmitted = false, FEnded = false, FClosed = false;
  std::string FEndText;
  std::uint8_t FLastCmd = 0;
  TBytes FLastPayload;
  std::uint64_t FMessages = 0;                 // messages received
  std::array<std::uint64_t, 256> FArrivals{};  // messages received, per number
  std::uint64_t FFramesApplied = 0, FFrameErrors = 0;
  std::uint32_t FNextTransferId = 0;
};

}  // namespace halvora::viewer
