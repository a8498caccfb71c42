#include "host/uMain.h"

#include "base/uAscii.h"
#include "base/uText.h"
#include "install/uSettings.h"
#include "install/uInstalacao.h"

namespace halvora {
namespace {

constexpr int KeepAliveTicks = 15;
constexpr std::uint32_t ProofTimeout = 30000;
constexpr int MaxFailures = 5;
constexpr std::size_t MaxTrayHint = 120;
constexpr std::size_t LargeTitleLength = 22;
constexpr const char* NoId = "--- --- ---";
constexpr const char* IdleTrayHint = "Halvora - disponível para o suporte autorizado";
constexpr const char* CrLf = "\r\n";

// Equal ignoring the case of ASCII letters, in time that does not depend on where they differ.
bool SameProof(std::string_view AGiven, std::string_view AExpected) {
  if (AGiven.size() != AExpected.size()) return false;
  unsigned char Diff = 0;
  for (std::size_t I = 0; I < AGiven.size(); ++I)
    Diff |= static_cast<unsigned char>(AsciiLower(AGiven[I]) ^ AsciiLower(AExpected[I]));
  return Diff == 0;
}

std::string FirstUtf16Units(const std::string& AText, std::size_t ACount) {
  const std::u16string Wide = Utf8ToUtf16(AText);
  return Wide.size() <= ACount ? AText : Utf16ToUtf8(Wide.substr(0, ACount));
}

}  // namespace

TfrmMain::TfrmMain(TMainEnvironment AEnv)
    : FEnv(std::move(AEnv)), FPath(FEnv.Services.Input) {
  if (FEnv.AgentMode) {
    FModel.Tray.Hint = IdleTrayHint;
    FModel.Tray.Visible = true;
  }
  ApplyLook();
  const bool Saved = LoadSettings();
  NewPassword();
  // A settings file that cannot be written must not go unnoticed: its text stays until the
  // connection reports.
  if (Saved) SetStatus("Conectando ao servidor...");
  UpdateIdentity();
  ConnectRelay();
  LoadBrand();
}

TfrmMain::~TfrmMain() {
  HALVORA_CHECK_THREAD(FMainThread);
  EndSession(true);
  DestroyRelay();
}

// --- settings and identity ---

std::string TfrmMain::SettingsPath() const { return halvora::SettingsPath(*FEnv.Folders); }

std::string TfrmMain::BrandFolder() const { return halvora::BrandFolder(SettingsPath()); }

bool TfrmMain::LoadSettings() {
  const TSettings Settings = halvora::LoadSettings(SettingsPath(), FEnv.ProgramPath);
  FServerUrl = Settings.ServerUrl;
  FMyId = Settings.MyId;
  FKey = Settings.Key;
  FBrandCode = Settings.BrandCode;
  FApiUrl = Settings.ApiUrl;
  return SaveSettings();
}

bool TfrmMain::SaveSettings() {
  try {
    halvora::SaveSettings(*FEnv.Folders, TSettings{FServerUrl, FMyId, FKey, FBrandCode, FApiUrl});
    return true;
  } catch (const std::exception& AError) {
    SetStatus(SaveFailedText(AError));
    return false;
  }
}

void TfrmMain::NewPassword() {
  FPassword = NewPasswordText();
  FFailCount = 0;
  FModel.lblPassword.Text = FPassword;
  Changed();
}

// --- relay link ---

void TfrmMain::ConnectRelay() {
  EndSession(false);
  DestroyRelay();
  FOnline = false;
  FConn = TRelayClient::CreateCliente(FServerUrl, FMyId, FKey, FEnv.Relay);
  // The relay client's thread reaches the session path only, never the controller.
  FConn->SetOnDirectPacket([this](std::uint8_t ACmd, const TIdBytes& APayload) {
    return FPath.DirectPacket(ACmd, APayload);
  });
  FConn->SetOnPacket(
      [this](std::uint8_t ACmd, const TIdBytes& APayload) { PacketReceived(ACmd, APayload); });
  FConn->SetOnOnline([this](bool AOnline) { RelayOnline(AOnline); });
  FConn->SetOnLinkLost([this] { FPath.LinkLost(); });
}

void TfrmMain::DestroyRelay() {
  // Out of the field first, so that nothing reaches a client that is being destroyed.
  std::unique_ptr<TRelayClient> Old = std::move(FConn);
  Old.reset();
  FPath.ClientReplaced();
}

bool TfrmMain::Send(std::uint8_t ACmd, const TIdBytes& APayload) {
  return FConn && FConn->Send(ACmd, APayload);
}

void TfrmMain::RelayOnline(bool AOnline) {
  HALVORA_CHECK_THREAD(FMainThread);
  FOnline = AOnline;
  if (AOnline) {
    SetStatus("Registrando no servidor...");
  } else {
    FPath.EndHandled();
    EndSession(false);
    SetStatus("Sem conexão com o servidor. Tentando reconectar...");
  }
  UpdateIdentity();
}

void TfrmMain::PacketReceived(std::uint8_t ACmd, const TIdBytes& APayload) {
  HALVORA_CHECK_THREAD(FMainThread);
  switch (ACmd) {
    case cmdWelcome:
      FMyId = TWelcomeMessage::Decode(APayload)->Text;
      SaveSettings();
      SetStatus("Pronto. Aguardando o atendente.");
      UpdateIdentity();
      break;
    case cmdAccessRequest:
      FPath.EndHandled();
      AccessRequested(*TAccessRequestMessage::Decode(APayload), false);
      break;
    case cmdSessionEnded:
      FPath.EndHandled();
      if (FRole != TSessionRole::srNone) {
        EndSession(false);
        SetStatus("Sessão encerrada pelo atendente.");
      }
      break;
    case cmdRefused:
      SetStatus(TRefusedMessage::Decode(APayload)->Text);
      break;
    case cmdInstallOffer: {
      const std::string Text = TInstallOfferMessage::Decode(APayload)->Text;
      SetStatus(Text);
      OfferInstall(Text);
      break;
    }
    case cmdPermanentCount:
      ShowPermanentAccess(TPermanentCountMessage::Decode(APayload)->Count);
      break;
    case cmdTrustedAccess:
      FPath.EndHandled();
      AccessRequested(*TTrustedAccessMessage::Decode(APayload), true);
      break;
    case cmdBrand:
      AnnounceBrand(*TBrandMessage::Decode(APayload));
      break;
    case cmdProof:
      CheckProof(TProofMessage::Decode(APayload)->Text);
      break;
    case cmdBlockInput:
      if (FRole != TSessionRole::srHost) break;
      if (const auto Block = TBlockInputMessage::Decode(APayload)) SetInputBlocked(Block->Block);
      break;
    case cmdClipText:
    case cmdClipFilesBegin:
    case cmdClipFileEntry:
    case cmdClipFileData:
    case cmdClipFilesEnd:
      if (FRole == TSessionRole::srHost && FEnv.Services.Clip)
        FEnv.Services.Clip->HandlePacket(ACmd, APayload);
      break;
    case cmdSecureAttention:
      if (FRole == TSessionRole::srHost &&
          !(FEnv.Services.SecureAttention && FEnv.Services.SecureAttention->SendSecureAttention()))
        SetStatus(
            "O atendente pediu Ctrl+Alt+Del, que só funciona com o Halvora instalado neste "
            "computador.");
      break;
    default:
      break;
  }
}

void TfrmMain::tmrTickTimer() {
  HALVORA_CHECK_THREAD(FMainThread);
  if (++FPingTicks >= KeepAliveTicks) {
    FPingTicks = 0;
    if (FOnline) Send(cmdKeepAlive, TKeepAliveMessage{}.Encode());
  }
  CheckDeadline();
}

// --- sessions ---

std::string TfrmMain::PeerDisplayName() const {
  return FPeerName.empty() ? FormatId(FPeerId) : FPeerName;
}

void TfrmMain::StartHosting() {
  FFailCount = 0;
  FRole = TSessionRole::srHost;
  Send(cmdAccessResult, TAccessResultMessage{true}.Encode());
  TRelayClient* Conn = FConn.get();
  // Refused only when the relay has ended this pairing already; that end, still queued,
  // then ends the session.
  FPath.Open(
      [Conn](std::uint8_t ACmd, const TIdBytes& APayload) {
        return Conn && Conn->Send(ACmd, APayload);
      },
      [&](TSendPacketFunc ASend) -> std::unique_ptr<ICaptureSession> {
        if (!Conn || !FEnv.Services.Capture) return nullptr;
        return FEnv.Services.Capture->Create(std::move(ASend));
      });
  if (FEnv.Services.Clip) FEnv.Services.Clip->Activate(FPath.SessionSend());
  const std::string Name = PeerDisplayName();
  SetStatus("Este computador está sendo controlado por " + Name + ".");
  UpdateIdentity();
  FModel.Caption = "Halvora - em atendimento por " + Name;
  FModel.Tray.Hint = FirstUtf16Units("Halvora: " + Name + " está acessando este computador",
                                     MaxTrayHint);
  FModel.Tray.Visible = true;
  Changed();
  if (FEnv.View) {
    FEnv.View->ShowBalloon("Halvora", Name + " está acessando este computador.");
    if (!FEnv.AgentMode) FEnv.View->MinimizeApplication();
  }
}

void TfrmMain::EndSession(bool ANotify) {
  if (FRole == TSessionRole::srNone) return;
  const bool WasHost = FRole == TSessionRole::srHost;
  FRole = TSessionRole::srNone;
  FPeerId.clear();
  FPeerName.clear();
  FNonce.clear();
  if (FEnv.Services.Blocker) FEnv.Services.Blocker->SetActive(false);
  if (FEnv.Services.Clip) FEnv.Services.Clip->Deactivate();
  FPath.Close().reset();  // waits for the capture loop, outside the path's lock
  if (FEnv.Services.Input) FEnv.Services.Input->QueueReleaseKeys();
  if (FSessionBrand) {
    FSessionBrand = false;
    FSessionBrandCode.clear();
    ResetBrand();
    LoadBrand();
  }
  if (WasHost) {
    FModel.Tray.Visible = FEnv.AgentMode;
    FModel.Tray.Hint = IdleTrayHint;
    FModel.Caption = "Halvora";
    Changed();
    if (FEnv.View && !FEnv.AgentMode) FEnv.View->RestoreApplication();
  }
  // After an end that is still queued, the relay has closed this pairing already, and a 7
  // would close the next one.
  if (ANotify && !FPath.EndPending()) Send(cmdHostEnd, THostEndMessage{}.Encode());
  UpdateIdentity();
}

void TfrmMain::SetInputBlocked(bool ARequested) {
  IInputBlocker* Blocker = FEnv.Services.Blocker.get();
  if (Blocker) Blocker->SetActive(ARequested);
  const bool Active = Blocker && Blocker->Active();
  if (Active && FEnv.Services.Input) FEnv.Services.Input->QueueReleaseKeys();
  Send(cmdBlockState, TBlockStateMessage{Active}.Encode());
  if (Active)
    SetStatus("Mouse e teclado bloqueados por " + PeerDisplayName() + ".");
  else if (ARequested)
    SetStatus("Não foi possível bloquear o mouse e o teclado.");
  else
    SetStatus("Este computador está sendo controlado por " + PeerDisplayName() + ".");
}

// --- admission ---

void TfrmMain::AccessRequested(const TPeerRequest& ARequest, bool ATrusted) {
  // A later end is queued already: this technician has left the relay again.
  if (FPath.EndPending()) return;
  // The relay pairs one technician at a time: a request during a session means that it has
  // ended the session on its side and that what it delivers now comes from the new technician.
  if (FRole == TSessionRole::srHost) EndSession(false);
  FRole = TSessionRole::srHostAuth;
  FPeerId = ARequest.PeerId;
  FPeerName = TrimBlanks(ARequest.Name);
  const std::string Qualifier(TrimBlanks(ARequest.Qualifier));
  if (!FPeerName.empty() && !Qualifier.empty()) FPeerName += " (" + Qualifier + ")";
  if (ATrusted) {
    StartHosting();
    return;
  }
  FNonce = RandomString("0123456789abcdef", 32);
  FAuthDeadline = FEnv.Relay.Clock->GetTickCount() + ProofTimeout;
  Send(cmdChallenge, TChallengeMessage{FNonce}.Encode());
  SetStatus(PeerDisplayName() + " está pedindo acesso...");
  UpdateIdentity();
}

void TfrmMain::CheckProof(const std::string& AProof) {
  if (FRole != TSessionRole::srHostAuth) return;
  // With an end queued behind it, the proof answers a pairing that is over: it admits nobody,
  // but a wrong one still counts.
  const bool Current = !FPath.EndPending();
  if (SameProof(AProof, ProofHash(FNonce, FPassword))) {
    if (!Current) return;
    Send(cmdProofAccepted, TProofAcceptedMessage{}.Encode());
    StartHosting();
    return;
  }
  if (Current) Send(cmdAccessResult, TAccessResultMessage{false}.Encode());
  EndSession(true);
  if (++FFailCount < MaxFailures) {
    SetStatus("Tentativa de conexão recusada: senha incorreta.");
  } else {
    NewPassword();
    SetStatus("Muitas tentativas com senha incorreta. Uma nova senha foi gerada.");
  }
}

void TfrmMain::CheckDeadline() {
  // A signed difference stays right across the wrap of the tick counter.
  const auto Late = static_cast<std::int32_t>(FEnv.Relay.Clock->GetTickCount() - FAuthDeadline);
  if (FRole == TSessionRole::srHostAuth && Late >= 0) {
    EndSession(true);
    SetStatus("A conexão não foi concluída a tempo.");
  }
}

// --- brand ---

void TfrmMain::AnnounceBrand(const TBrandMessage& ABrand) {
  const std::string& Code = ABrand.Code;
  const std::string& Name = ABrand.Name;
  if (FBrandCode.empty()) {
    FBrandCode = Code;
    SaveSettings();
    ApplyBrand(Code, Name, {});
    LoadBrand();
  } else if (Code != FBrandCode) {
    ApplyBrand(Code, Name, {});
    FSessionBrand = true;
    FSessionBrandCode = Code;
    // A lookup that answers after the session (or after another brand came) shows nothing.
    if (FEnv.Services.Brand)
      FEnv.Services.Brand->BuscarMarca(
          TBrandLookup::blSession, FApiUrl, Code, BrandFolder(),
          [this](const std::string& ACode, const std::string& AName, const TIdBytes& ALogo) {
            if (FSessionBrand && ACode == FSessionBrandCode) ApplyBrand(ACode, AName, ALogo);
          });
  }
}

void TfrmMain::ApplyBrand(const std::string&, const std::string& AName, const TIdBytes& ALogoPng) {
  HALVORA_CHECK_THREAD(FMainThread);
  if (AName.empty()) return;
  FModel.lblTitle.Text = AName;
  FModel.lblTitle.FontHeight = Utf16Length(AName) <= LargeTitleLength ? 24 : 16;
  FModel.lblSubtitle.Text = "Suporte remoto por Halvora";
  if (!ALogoPng.empty()) FBrandLogo = ALogoPng;
  Changed();
}

void TfrmMain::ResetBrand() {
  FModel.lblTitle.Text = "Halvora";
  FModel.lblTitle.FontHeight = 24;
  FModel.lblSubtitle.Text = "Quenmir Softwares";
  FBrandLogo.clear();
  Changed();
}

void TfrmMain::LoadBrand() {
  if (FBrandCode.empty() || !FEnv.Services.Brand) return;
  std::string Name;
  TIdBytes Logo;
  if (FEnv.Services.Brand->CarregarMarca(BrandFolder(), FBrandCode, Name, Logo))
    ApplyBrand(FBrandCode, Name, Logo);
  // The host's own brand does not cover a session brand on show.
  FEnv.Services.Brand->BuscarMarca(
      TBrandLookup::blHost, FApiUrl, FBrandCode, BrandFolder(),
      [this](const std::string& ACode, const std::string& AName, const TIdBytes& ALogo) {
        if (!FSessionBrand && ACode == FBrandCode) ApplyBrand(ACode, AName, ALogo);
      });
}

// --- window ---

void TfrmMain::Changed() {
  if (FEnv.View) FEnv.View->ModelChanged();
}

void TfrmMain::SetStatus(const std::string& AText) {
  HALVORA_CHECK_THREAD(FMainThread);
  FModel.lblStatus.Text = AText;
  Changed();
}

void TfrmMain::UpdateIdentity() {
  FModel.lblId.Text = FOnline && !FMyId.empty() ? FormatId(FMyId) : NoId;
  FModel.btnDisconnect.Enabled = FRole != TSessionRole::srNone;
  FModel.btnNewPassword.Enabled = FRole == TSessionRole::srNone;
  Changed();
}

void TfrmMain::ApplyLook() {
  FModel.lblInstall.Visible = !IsInstalled(*FEnv.Folders);
  FModel.btnServer.Visible = FEnv.DevMode;
  ShowPermanentAccess(0);
}

void TfrmMain::ShowPermanentAccess(int ACount) {
  FModel.lblFixed.Visible = ACount > 0;
  FModel.btnRevoke.Visible = ACount > 0;
  FModel.lblFixed.Text =
      ACount == 1 ? "Uma empresa tem acesso permanente a este computador (entra sem a senha acima)."
                  : std::to_string(ACount) +
                        " empresas têm acesso permanente a este computador (entram sem a senha "
                        "acima).";
  Changed();
}

void TfrmMain::OfferInstall(const std::string& APrefix) {
  if (IsInstalled(*FEnv.Folders) || FEnv.AgentMode || FMyId.empty() || !FEnv.Dialogs) return;
  std::string Question = std::string("Instalar o Halvora neste computador?") + CrLf + CrLf +
                         "Ele passa a iniciar com o Windows e fica disponível para o suporte "
                         "autorizado, mesmo sem ninguém usando o computador. Para remover "
                         "depois, use \"Aplicativos\" do Windows.";
  if (!APrefix.empty()) Question = APrefix + CrLf + CrLf + Question;
  if (FRole != TSessionRole::srNone)
    Question += std::string(CrLf) + CrLf +
                "O atendimento em andamento será encerrado; o atendente pode reconectar em "
                "seguida.";
  if (!FEnv.Dialogs->Confirm(Question)) return;
  if (FEnv.Services.Installer &&
      FEnv.Services.Installer->InstallElevated(FServerUrl, FMyId, FKey, FBrandCode)) {
    EndSession(true);
    DestroyRelay();
    FEnv.Dialogs->Inform("Halvora instalado. Ele continua disponível com o mesmo ID.");
    if (FEnv.View) FEnv.View->TerminateApplication();
  } else {
    SetStatus("A instalação não foi concluída.");
  }
}

void TfrmMain::btnNewPasswordClick() {
  HALVORA_CHECK_THREAD(FMainThread);
  NewPassword();
}

void TfrmMain::btnDisconnectClick() {
  HALVORA_CHECK_THREAD(FMainThread);
  if (FRole == TSessionRole::srNone) return;
  EndSession(true);
  SetStatus("Sessão encerrada.");
}

void TfrmMain::btnServerClick() {
  HALVORA_CHECK_THREAD(FMainThread);
  std::string Value = FServerUrl;
  if (!FEnv.Dialogs ||
      !FEnv.Dialogs->Input("Servidor", "Endereço do servidor (em branco = padrão)", Value))
    return;
  const std::string_view Entered = TrimBlanks(Value);
  FServerUrl = Entered.empty() ? DefaultRelayUrl() : std::string(Entered);
  SaveSettings();
  SetStatus("Conectando ao servidor...");
  ConnectRelay();
  UpdateIdentity();
}

void TfrmMain::btnRevokeClick() {
  HALVORA_CHECK_THREAD(FMainThread);
  if (FEnv.Dialogs &&
      FEnv.Dialogs->Confirm(std::string("Remover todos os acessos permanentes a este computador?") +
                            CrLf + "O suporte volta a precisar da senha que aparece nesta tela."))
    Send(cmdRevokePermanent, TRevokePermanentMessage{}.Encode());
}

void TfrmMain::lblInstallClick() {
  HALVORA_CHECK_THREAD(FMainThread);
  OfferInstall("");
}

bool TfrmMain::FormCloseQuery() {
  HALVORA_CHECK_THREAD(FMainThread);
  if (!FEnv.AgentMode) return true;
  if (FEnv.View) FEnv.View->HideMainWindow();
  return false;
}

void TfrmMain::TrayClick() {
  HALVORA_CHECK_THREAD(FMainThread);
  if (FEnv.View) FEnv.View->ShowMainWindow();
}

}  // namespace halvora
