#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "host/uMainModel.h"
#include "host/uHostServices.h"

namespace halvora::test {

// Stand-ins for the subsystems of a session: each records what the controller asked of it.
// Calls may come from the relay client's thread (capture and input), so they are locked.
class TCallLog {
 public:
  void Add(std::string ACall) {
    std::lock_guard Guard(FLock);
    FCalls.push_back(std::move(ACall));
  }
  std::vector<std::string> Calls() const {
    std::lock_guard Guard(FLock);
    return FCalls;
  }
  void Clear() {
    std::lock_guard Guard(FLock);
    FCalls.clear();
  }

 private:
  mutable std::mutex FLock;
  std::vector<std::string> FCalls;
};

class TFakeCapture final : public ICaptureFactory {
 public:
  explicit TFakeCapture(TCallLog& ALog) : FLog(ALog) {}
  std::unique_ptr<ICaptureSession> Create(TSendPacketFunc ASend) override;
  TSendPacketFunc FSend;  // what the last capture was given to send with

 private:
  TCallLog& FLog;
};

class TFakeInput final : public IInputQueue {
 public:
  explicit TFakeInput(TCallLog& ALog) : FLog(ALog) {}
  void QueueMouseInput(const TMousePacket& APacket, std::int32_t AMonitor) override;
  void QueueKeyInput(const TKeyPacket& APacket) override;
  void QueueReleaseKeys() override { FLog.Add("input.release"); }

 private:
  TCallLog& FLog;
};

class TFakeBlocker final : public IInputBlocker {
 public:
  explicit TFakeBlocker(TCallLog& ALog) : FLog(ALog) {}
  void SetActive(bool AActive) override;
  bool Active() const override { return FActive; }
  bool FCanBlock = true;  // false: blocking fails

 private:
  TCallLog& FLog;
  bool FActive = false;
};

class TFakeClipboard final : public IClipboardSync {
 public:
  explicit TFakeClipboard(TCallLog& ALog) : FLog(ALog) {}
  void Activate(TSendPacketFunc) override { FLog.Add("clip.activate"); }
  void Deactivate() override { FLog.Add("clip.deactivate"); }
  void HandlePacket(std::uint8_t ACmd, const TIdBytes&) override {
    FLog.Add("clip." + std::to_string(ACmd));
  }

 private:
  TCallLog& FLog;
};

class TFakeSecureAttention final : public ISecureAttention {
 public:
  explicit TFakeSecureAttention(TCallLog& ALog) : FLog(ALog) {}
  bool SendSecureAttention() override {
    FLog.Add("sas");
    return FPossible;
  }
  bool FPossible = false;

 private:
  TCallLog& FLog;
};

class TFakeBrand final : public IBrandService {
 public:
  explicit TFakeBrand(TCallLog& ALog) : FLog(ALog) {}
  bool CarregarMarca(const std::string&, const std::string& ACode, std::string& AName,
                     TIdBytes& ALogoPng) override;
  void BuscarMarca(TBrandLookup AKind, const std::string& AApiUrl, const std::string& ACode,
                   const std::string&, TMarcaEvento AReport) override {
    FLog.Add("brand.lookup " + AApiUrl + " " + ACode);
    FKinds.push_back(AKind);
    FReports.push_back(std::move(AReport));
  }
  std::string FCachedName;  // what the cache holds for any code; empty: nothing
  std::vector<TBrandLookup> FKinds;    // of every lookup, in order
  std::vector<TMarcaEvento> FReports;  // of every lookup, in order, for the test to answer

 private:
  TCallLog& FLog;
};

class TFakeInstaller final : public IInstaller {
 public:
  explicit TFakeInstaller(TCallLog& ALog) : FLog(ALog) {}
  bool InstallElevated(const std::string& AUrl, const std::string& AId, const std::string& AKey,
                       const std::string& ABrand) override {
    FLog.Add("install " + AUrl + " " + AId + " " + AKey + " " + ABrand);
    return FSucceeds;
  }
  bool FSucceeds = true;

 private:
  TCallLog& FLog;
};

// A view and dialogs that record what they were asked and answer as scripted.
class TFakeView final : public IMainView, public IDialogs {
 public:
  explicit TFakeView(TCallLog& ALog) : FLog(ALog) {}
  void ModelChanged() override {}
  void ShowBalloon(const std::string& ATitle, const std::string& AText) override {
    FLog.Add("balloon " + ATitle + ": " + AText);
  }
  void MinimizeApplication() override { FLog.Add("minimize"); }
  void RestoreApplication() override { FLog.Add("restore"); }
  void ShowMainWindow() override { FLog.Add("show"); }
  void HideMainWindow() override { FLog.Add("hide"); }
  void TerminateApplication() override { FLog.Add("terminate"); }
  bool Confirm(const std::string& AText) override {
    FLog.Add("confirm " + AText);
    return FAnswerYes;
  }
  void Inform(const std::string& AText) override { FLog.Add("inform " + AText); }
  bool Input(const std::string& ATitle, const std::string& APrompt, std::string& AValue) override;

  bool FAnswerYes = true;
  bool FInputOk = true;
  std::string FInputValue;

 private:
  TCallLog& FLog;
};

// Every stand-in, sharing one log.
struct TFakeServices {
  TCallLog Log;
  std::shared_ptr<TFakeCapture> Capture = std::make_shared<TFakeCapture>(Log);
  std::shared_ptr<TFakeInput> Input = std::make_shared<TFakeInput>(Log);
  std::shared_ptr<TFakeBlocker> Blocker = std::make_shared<TFakeBlocker>(Log);
  std::shared_ptr<TFakeClipboard> Clip = std::make_shared<TFakeClipboard>(Log);
  std::shared_ptr<TFakeSecureAttention> SecureAttention =
      std::make_shared<TFakeSecureAttention>(Log);
  std::shared_ptr<TFakeBrand> Brand = std::make_shared<TFakeBrand>(Log);
  std::shared_ptr<TFakeInstaller> Installer = std::make_shared<TFakeInstaller>(Log);
  TFakeView View{Log};

  THostServices Services() const {
    return THostServices{Capture, Input, Blocker, Clip, SecureAttention, Brand, Installer};
  }
};

}  // namespace halvora::test
