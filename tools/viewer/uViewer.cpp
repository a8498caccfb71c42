#include "uViewer.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "protocol/uProtocol.h"

namespace halvora::viewer {

namespace {

constexpr auto ConnectTimeout = std::chrono::seconds(15);
// Each step of log-in and admission; the host itself gives up a challenge after 30 s.
constexpr auto LoginTimeout = std::chrono::seconds(35);

// Ends the run with an exit code and a text for the person running the viewer.
class EViewerExit : public std::runtime_error {
 public:
  EViewerExit(int ACode, const std::string& AText) : std::runtime_error(AText), Code(ACode) {}
  int Code;
};

std::string LineName(const TScriptCommand& ACommand) {
  return "linha " + std::to_string(ACommand.Line) + " (" + ACommand.Source + ")";
}

// Rounds half away from zero, like the host's scaling.
int MulDiv(int AValue, int AMultiplier, int ADivisor) {
  const long long Product = static_cast<long long>(AValue) * AMultiplier;
  return static_cast<int>((Product + ADivisor / 2) / ADivisor);
}

}  // namespace

TViewer::TViewer(TViewerOptions AOptions, std::ostream& AOut, std::ostream& AErr)
    : FOptions(std::move(AOptions)),
      FOut(AOut),
      FErr(AErr),
      FStart(TClock::now()),
      FDeadline(FOptions.TimeoutSeconds > 0 ? FStart + std::chrono::seconds(FOptions.TimeoutSeconds)
                                            : TClock::time_point::max()),
      FDir(FOptions.OutDir),
      FLog(FStart) {}

TViewer::~TViewer() = default;

int TViewer::Run() {
  int Code = ecDone;
  try {
    Prepare();
    Connect();
    Login();
    Admit();
    if (FOptions.ScriptFile.empty())
      RunPassive();
    else
      RunScript();
  } catch (const EViewerExit& AExit) {
    Code = AExit.Code;
    FErr << AExit.what() << '\n';
  } catch (const std::exception& AFault) {
    Code = ecLocalError;
    FErr << "Erro: " << AFault.what() << '\n';
  }
  try {
    Finish();
  } catch (const std::exception& AFault) {
    FErr << "Erro ao encerrar: " << AFault.what() << '\n';
  }
  return Code;
}

void TViewer::Prepare() {
  if (!FOptions.ScriptFile.empty()) {
    std::ifstream File(FOptions.ScriptFile, std::ios::binary);
    if (!File)
      throw EViewerExit(ecScriptFailed, "Não foi possível ler o script " + FOptions.ScriptFile);
    std::stringstream Text;
    Text << File.rdbuf();
    std::string Error;
    if (!ParseScript(Text.str(), FScript, Error))
      throw EViewerExit(ecScriptFailed, "Script: " + Error);
  }
  std::error_code Error;
  std::filesystem::create_directories(FDir, Error);
  if (Error)
    throw EViewerExit(ecLocalError,
                      "Pasta de saída inutilizável: " + FDir.string() + ": " + Error.message());
  std::string Fault;
  if (!FLog.Open(FDir / "received.log", Fault)) throw EViewerExit(ecLocalError, Fault);
  FClip = std::make_unique<TClipReceiver>(FDir / "received-files");
}

void TViewer::Connect() {
  TRelayUrl Url;
  if (!ParseRelayUrl(FOptions.Relay, Url))
    throw EViewerExit(ecLocalError, "Endereço de relay inválido: " + FOptions.Relay);
  std::string Error;
  if (!FConn.Open(Url, FOptions.CaFile, std::min(FDeadline, TClock::now() + ConnectTimeout),
                  Error))
    throw EViewerExit(ecNoConnection, "Sem conexão com o relay: " + Error);
  FOut << "Conectado a " << FOptions.Relay << '\n';
}

void TViewer::Login() {
  SendOrEnd(cmdHello, THelloMessage::Technician(FOptions.Token).Encode());
  if (AwaitOneOf({cmdWelcome, cmdRefused, cmdRelayError}, "resposta ao hello") != cmdWelcome) {
    throw EViewerExit(ecRelayRefused, "O relay recusou o hello: " +
                                          (FLastCmd == cmdRefused
                                               ? TRefusedMessage::Decode(FLastPayload)->Text
                                               : TRelayErrorMessage::Decode(FLastPayload)->Text));
  }
  FWelcomed = true;
  SendOrEnd(cmdConnectHost,
            TConnectHostMessage{FOptions.Id, FOptions.Name, FOptions.Qualifier}.Encode());
  if (AwaitOneOf({cmdConnectResult, cmdRelayError}, "resultado da conexão") == cmdRelayError)
    throw EViewerExit(ecRelayRefused, "O relay recusou o pedido: " +
                                          TRelayErrorMessage::Decode(FLastPayload)->Text);
  const auto Result = TConnectResultMessage::Decode(FLastPayload);
  if (!Result) throw EViewerExit(ecRelayRefused, "O relay respondeu ao pedido de forma inválida.");
  if (Result->Code != 0)
    throw EViewerExit(ecRelayRefused, "O relay recusou o pedido (código " +
                                          std::to_string(Result->Code) + "): " + Result->Text);
  FOut << "Host " << FOptions.Id << " encontrado (" << Result->Mode << ")\n";
}

void TViewer::Admit() {
  // A challenge is answered as it arrives (Handle); trusted access skips it.
  AwaitOneOf({cmdAccessResult}, "admissão pelo host");
  const auto Result = TAccessResultMessage::Decode(FLastPayload);
  if (!Result || !Result->Value) throw EViewerExit(ecPasswordRefused, "O host recusou a senha.");
  FAdmitted = true;
  FOut << "Acesso concedido pelo host.\n";
}

std::uint8_t TViewer::AwaitOneOf(std::initializer_list<std::uint8_t> ACommands,
                                 const std::string& AWhat) {
  const std::uint64_t Before = FMessages;
  const auto End = Pump(TClock::now() + LoginTimeout, [&] {
    return FMessages > Before &&
           std::find(ACommands.begin(), ACommands.end(), FLastCmd) != ACommands.end();
  });
  if (End == TPumpEnd::peDone) return FLastCmd;
  if (End == TPumpEnd::peEnded) throw EViewerExit(EndedCode(), EndedText() + " (" + AWhat + ")");
  throw EViewerExit(ecScriptFailed, "Tempo esgotado esperando " + AWhat + ".");
}

void TViewer::RunPassive() {
  if (Pump(TClock::time_point::max(), nullptr) == TPumpEnd::peOverallTimeout) {
    FOut << "Tempo (--timeout) esgotado.\n";
    return;
  }
  if (!FEnded) throw EViewerExit(ecNoConnection, EndedText());
  FOut << EndedText() << '\n';
}

void TViewer::RunScript() {
  for (const auto& Command : FScript) {
    if (Command.Op == TScriptOp::soQuit) break;
    FRunning = &Command;
    Execute(Command);
  }
  FRunning = nullptr;
  FOut << "Script concluído.\n";
}

void TViewer::Execute(const TScriptCommand& ACommand) {
  const auto Fail = [&ACommand](const std::string& AText) {
    return EViewerExit(ecScriptFailed, LineName(ACommand) + ": " + AText);
  };
  switch (ACommand.Op) {
    case TScriptOp::soWait:
      ScriptWait(ACommand, nullptr);
      break;
    case TScriptOp::soWaitFrames: {
      const std::uint64_t Start = FFramesApplied, Errors = FFrameErrors;
      if (!ScriptWait(ACommand,
                      [&] { return FFramesApplied - Start >= std::uint64_t(ACommand.Count); }))
        throw Fail("tempo esgotado após " + std::to_string(ACommand.Ms) +
                   " ms: " + std::to_string(FFramesApplied - Start) + " de " +
                   std::to_string(ACommand.Count) + " frame(s) aplicados, " +
                   std::to_string(FFrameErrors - Errors) + " com erro");
      break;
    }
    case TScriptOp::soWaitFor: {
      const std::uint64_t Start = FArrivals[ACommand.Count];
      if (!ScriptWait(ACommand, [&] { return FArrivals[ACommand.Count] > Start; }))
        throw Fail("tempo esgotado após " + std::to_string(ACommand.Ms) +
                   " ms esperando a mensagem " + std::to_string(ACommand.Count));
      if (ACommand.Count == cmdSessionEnded) FEnded = false;  // the end was expected
      break;
    }
    case TScriptOp::soMouse:
      SendMouse(ACommand.Monitor, ACommand.X, ACommand.Y, ACommand.Action, ACommand.Wheel);
      break;
    case TScriptOp::soMove:
      SendMouse(ACommand.Monitor, Scale(ACommand, false), Scale(ACommand, true), 0, 0);
      break;
    case TScriptOp::soClick:
      SendMouse(ACommand.Monitor, Scale(ACommand, false), Scale(ACommand, true), ACommand.Action,
                0);
      SendMouse(ACommand.Monitor, Scale(ACommand, false), Scale(ACommand, true),
                ACommand.Action + 1, 0);
      break;
    case TScriptOp::soWheel:
      SendMouse(ACommand.Monitor, Scale(ACommand, false), Scale(ACommand, true), 7, ACommand.Wheel);
      break;
    case TScriptOp::soKey:
      SendKey(ACommand.Keys[0], ACommand.Down);
      break;
    case TScriptOp::soType:
      for (const std::uint16_t Key : ACommand.Keys) {
        SendKey(Key, true);
        SendKey(Key, false);
      }
      break;
    case TScriptOp::soMonitor:
      SendOrEnd(cmdSelectMonitor,
                TSelectMonitorMessage{static_cast<std::uint8_t>(ACommand.Count)}.Encode());
      break;
    case TScriptOp::soBlock:
      SendOrEnd(cmdBlockInput, TBlockInputMessage{ACommand.Count == 1}.Encode());
      break;
    case TScriptOp::soClipText:
      SendOrEnd(cmdClipText, TClipTextMessage{ACommand.Text}.Encode());
      break;
    case TScriptOp::soClipFiles: {
      TClipList List;
      std::string Error;
      if (!CollectClipEntries(ACommand.Paths, List, Error)) throw Fail(Error);
      // SendOrEnd throws when the link is down, so every send that returns went out.
      const auto Send = [this](std::uint8_t ACmd, const TBytes& APayload) {
        SendOrEnd(ACmd, APayload);
        return true;
      };
      SendClipTransfer(++FNextTransferId, List, Send);
      FOut << List.Entries.size() << " item(ns) enviado(s).\n";
      break;
    }
    case TScriptOp::soSas:
      SendOrEnd(cmdSecureAttention, TSecureAttentionMessage{}.Encode());
      break;
    case TScriptOp::soSnapshot: {
      std::string Error;
      if (!FCanvases.WriteAll(FDir, Error)) throw Fail(Error);
      break;
    }
    case TScriptOp::soEnd:
      SendOrEnd(cmdHostEnd, THostEndMessage{}.Encode());
      break;
    case TScriptOp::soQuit:
      break;
  }
}

bool TViewer::ScriptWait(const TScriptCommand& ACommand, const std::function<bool()>& AStop) {
  switch (Pump(TClock::now() + std::chrono::milliseconds(ACommand.Ms), AStop)) {
    case TPumpEnd::peDone:
      return true;
    case TPumpEnd::peTimeout:
      return false;
    case TPumpEnd::peOverallTimeout:
      throw EViewerExit(ecScriptFailed, LineName(ACommand) + ": tempo total (--timeout " +
                                            std::to_string(FOptions.TimeoutSeconds) +
                                            " s) esgotado");
    case TPumpEnd::peEnded:
      break;
  }
  throw EViewerExit(EndedCode(), EndedText());
}

int TViewer::EndedCode() const {
  return FEnded ? ecSessionEnded : ecNoConnection;
}

std::string TViewer::EndedText() const {
  std::string Text = FEnded ? "Sessão encerrada pelo outro lado: \"" + FEndText + "\""
                            : "A conexão com o relay foi perdida";
  if (FRunning) Text += " durante a " + LineName(*FRunning);
  return Text;
}

void TViewer::Finish() {
  std::string Error;
  if (!FCanvases.WriteAll(FDir, Error)) FErr << "Erro: " << Error << '\n';
  FConn.Close();
  if (FClip) FClip->Reset();
  if (FAdmitted)
    FOut << "Frames aplicados: " << FFramesApplied << ", com erro: " << FFrameErrors << '\n';
}

TViewer::TPumpEnd TViewer::Pump(TClock::time_point ADeadline, const std::function<bool()>& AStop) {
  const auto Until = std::min(ADeadline, FDeadline);
  while (true) {
    if (AStop && AStop()) return TPumpEnd::peDone;
    if (FEnded || FClosed) return TPumpEnd::peEnded;
    std::uint8_t Cmd = 0;
    TBytes Payload;
    switch (FConn.Receive(Cmd, Payload, Until)) {
      case TReceiveStatus::rsMessage:
        Handle(Cmd, std::move(Payload));
        break;
      case TReceiveStatus::rsClosed:
        FClosed = true;
        break;
      case TReceiveStatus::rsTimeout:
        return FDeadline < ADeadline ? TPumpEnd::peOverallTimeout : TPumpEnd::peTimeout;
    }
  }
}

void TViewer::Handle(std::uint8_t ACmd, TBytes APayload) {
  if (ACmd == cmdChallenge && !FOptions.HasPassword) {
    FLog.Record(ACmd, APayload);
    throw EViewerExit(ecPasswordRefused, "O host pediu a senha, mas --password não foi dada.");
  }
  FLog.Record(ACmd, APayload, HandleNote(ACmd, APayload));
  ++FArrivals[ACmd];
  ++FMessages;
  FLastCmd = ACmd;
  FLastPayload = std::move(APayload);
}

std::string TViewer::HandleNote(std::uint8_t ACmd, const TBytes& APayload) {
  // Sends here ignore failures: a closed link shows at the next receive.
  switch (ACmd) {
    case cmdChallenge:
      if (const auto Challenge = TChallengeMessage::Decode(APayload)) {
        FConn.Send(cmdProof,
                   TProofMessage{ProofHash(Challenge->Nonce, FOptions.Password)}.Encode());
        return {};
      }
      return "ERRO: desafio inválido";
    case cmdFrame: {
      const TFrameResult Result = FDecoder.Apply(FCanvases, APayload);
      FConn.Send(cmdFrameAck, TFrameAckMessage{}.Encode());
      if (Result.Ok) {
        ++FFramesApplied;
        return {};
      }
      ++FFrameErrors;
      FErr << "Frame com erro: " << Result.Error << '\n';
      return "ERRO: " + Result.Error;
    }
    case cmdMonitorInfo: {
      const auto Info = TMonitorInfoMessage::Decode(APayload);
      if (!Info) return "ERRO: informação de monitores inválida";
      FCanvases.SetMonitors(Info->Count, Info->Selected);
      return {};
    }
    case cmdClipText: {
      FClip->Reset();
      const std::string Text = TClipTextMessage::Decode(APayload)->Text;
      std::ofstream File(FDir / "clipboard.txt", std::ios::binary | std::ios::trunc);
      File.write(Text.data(), static_cast<std::streamsize>(Text.size()));
      return File ? std::string() : "ERRO: clipboard.txt não gravado";
    }
    case cmdClipFilesBegin:
    case cmdClipFileEntry:
    case cmdClipFileData:
    case cmdClipFilesEnd: {
      const TClipNote Note = FClip->Handle(ACmd, APayload);
      if (!Note.Failed && !Note.Text.empty()) FOut << "Arquivos: " << Note.Text << '\n';
      return Note.Failed ? "ERRO: " + Note.Text : Note.Text;
    }
    case cmdSessionEnded:
      FEnded = true;
      FEndText = TSessionEndedMessage::Decode(APayload)->Text;
      return {};
    case cmdRelayError:
      FErr << "O relay informou: " << TRelayErrorMessage::Decode(APayload)->Text << '\n';
      return {};
    default:
      return {};
  }
}

void TViewer::SendOrEnd(std::uint8_t ACmd, const TBytes& APayload) {
  if (FConn.Send(ACmd, APayload)) return;
  FClosed = true;
  throw EViewerExit(EndedCode(), EndedText());
}

void TViewer::SendMouse(int AMonitor, int AX, int AY, int AAction, int AWheel) {
  TMouseMessage Mouse;
  Mouse.Packet = {static_cast<std::uint8_t>(AMonitor), static_cast<std::uint16_t>(AX),
                  static_cast<std::uint16_t>(AY), static_cast<std::uint8_t>(AAction),
                  static_cast<std::int16_t>(AWheel)};
  SendOrEnd(cmdMouse, Mouse.Encode());
}

void TViewer::SendKey(std::uint16_t AKey, bool ADown) {
  TKeyMessage Key;
  Key.Packet = {AKey, static_cast<std::uint8_t>(ADown ? 1 : 0)};
  SendOrEnd(cmdKey, Key.Encode());
}

std::uint16_t TViewer::Scale(const TScriptCommand& ACommand, bool AVertical) const {
  const TCanvas* Canvas = FCanvases.Find(ACommand.Monitor);
  if (!Canvas || Canvas->Width() == 0)
    throw EViewerExit(ecScriptFailed, LineName(ACommand) + ": o monitor " +
                                          std::to_string(ACommand.Monitor) +
                                          " ainda não tem imagem (use wait-frames antes)");
  const int Size = AVertical ? Canvas->Height() : Canvas->Width();
  const int Pixel = AVertical ? ACommand.Y : ACommand.X;
  if (Pixel >= Size)
    throw EViewerExit(ecScriptFailed, LineName(ACommand) + ": posição fora da imagem de " +
                                          std::to_string(Canvas->Width()) + "x" +
                                          std::to_string(Canvas->Height()));
  return static_cast<std::uint16_t>(Size <= 1 ? 0 : MulDiv(Pixel, 65535, Size - 1));
}

}  // namespace halvora::viewer
