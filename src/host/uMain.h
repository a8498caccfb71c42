#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/uThreadCheck.h"
#include "host/uHostServices.h"
#include "host/uMainModel.h"
#include "install/uSystemFolders.h"
#include "protocol/uConnection.h"
#include "protocol/uMessages.h"
#include "session/uSessionPath.h"

namespace halvora {

enum class TSessionRole { srNone, srHostAuth, srHost };

// What the controller takes from the process and the platform; tests replace it.
struct TMainEnvironment {
  TRelayEnvironment Relay;  // transports, clock (also for tick counts) and main queue
  const ISystemFolders* Folders = &SystemFolders();
  std::string ProgramPath;  // this program's file: a brand code in its name applies
  bool AgentMode = false;   // started by the service
  bool DevMode = false;     // shows the server button
  THostServices Services;
  IMainView* View = nullptr;
  IDialogs* Dialogs = nullptr;
};

// The main window's controller: settings and identity, the relay client, the session role,
// the dispatch of every message, admission of a technician and the window model.
// Main thread only (checked in debug and sanitizer builds): the relay client's thread reaches
// the session path, never the controller.
class TfrmMain {
 public:
  // Creation: loads the settings, makes a password and connects.
  explicit TfrmMain(TMainEnvironment AEnv);
  // Destruction: ends a running session (telling the relay) and disconnects.
  ~TfrmMain();
  TfrmMain(const TfrmMain&) = delete;
  TfrmMain& operator=(const TfrmMain&) = delete;

  // Event handlers of the window.
  void tmrTickTimer();  // every 1000 ms
  void btnNewPasswordClick();
  void btnDisconnectClick();
  void btnServerClick();
  void btnRevokeClick();
  void lblInstallClick();
  // False when the window must not close (it hides instead).
  bool FormCloseQuery();
  void TrayClick();

  // Hooks of the relay client.
  void PacketReceived(std::uint8_t ACmd, const TIdBytes& APayload);
  void RelayOnline(bool AOnline);

  void ApplyBrand(const std::string& ACode, const std::string& AName, const TIdBytes& ALogoPng);
  // Shows AText in the status line; also for the notices of the subsystems (clipboard).
  void SetStatus(const std::string& AText);

  const TMainWindowModel& Model() const { return FModel; }
  TSessionRole Role() const { return FRole; }
  const std::string& Password() const { return FPassword; }
  const std::string& MyId() const { return FMyId; }
  const std::string& Key() const { return FKey; }
  const std::string& ServerUrl() const { return FServerUrl; }
  const std::string& BrandCode() const { return FBrandCode; }
  // What the relay client's thread is given of a session.
  TSessionPath& SessionPath() { return FPath; }
  const std::string& ApiUrl() const { return FApiUrl; }
  const std::string& Status() const { return FModel.lblStatus.Text; }
  // The brand logo on show; empty for the built-in one.
  const TIdBytes& BrandLogo() const { return FBrandLogo; }
  std::string SettingsPath() const;
  std::string BrandFolder() const;
  std::string PeerDisplayName() const;

 private:
  void ConnectRelay();
  void DestroyRelay();
  void StartHosting();
  void EndSession(bool ANotify);
  void AccessRequested(const TPeerRequest& ARequest, bool ATrusted);
  void CheckProof(const std::string& AProof);
  void CheckDeadline();
  void AnnounceBrand(const TBrandMessage& ABrand);
  void SetInputBlocked(bool ARequested);
  bool Send(std::uint8_t ACmd, const TIdBytes& APayload);

  // Both report whether the settings were saved.
  bool LoadSettings();
  bool SaveSettings();
  void NewPassword();

  void UpdateIdentity();
  void ApplyLook();
  void ShowPermanentAccess(int ACount);
  void OfferInstall(const std::string& APrefix);
  void ResetBrand();
  void LoadBrand();
  void Changed();

  TThreadCheck FMainThread;  // the one that made the controller
  TMainEnvironment FEnv;
  TMainWindowModel FModel;
  std::unique_ptr<TRelayClient> FConn;
  TSessionPath FPath;  // what the relay client's thread reaches of a running session
  TSessionRole FRole = TSessionRole::srNone;
  bool FOnline = false;
  std::string FServerUrl, FMyId, FKey, FPassword;
  std::string FPeerId, FPeerName;
  std::string FBrandCode, FApiUrl;
  bool FSessionBrand = false;
  std::string FSessionBrandCode;  // the brand a technician announced for this session
  TIdBytes FBrandLogo;
  std::string FNonce;
  int FFailCount = 0;
  std::uint32_t FAuthDeadline = 0;
  int FPingTicks = 0;
};

}  // namespace halvora
