#include "relay/uRelayRegistry.h"

#include <algorithm>

#include "relay/uRelayLog.h"
#include "relay/uRelayStore.h"
#include "relay/uRelayWire.h"

namespace halvora::relay {

namespace {

// Before the host has admitted the technician, only the admission itself is carried.
bool IsAdmissionMessage(std::uint8_t ACmd, bool AFromHost) {
  return AFromHost ? ACmd == cmdChallenge || ACmd == cmdAccessResult : ACmd == cmdProof;
}

// IDs that hosts bring along: what this relay hands out is nine digits, but a host coming back
// from another database is taken as long as its ID is short and plain.
bool IsAcceptableId(const std::string& AId) {
  return AId.size() <= 32 && std::all_of(AId.begin(), AId.end(), [](char C) {
           return (C >= '0' && C <= '9') || (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z');
         });
}

TConnectResultMessage Result(int ACode, std::string AText, std::string AMode = {}) {
  return {ACode, std::move(AText), std::move(AMode)};
}

TConnectResultMessage TooMany(std::chrono::seconds AWait) {
  return Result(
      5, "Muitas tentativas. Aguarde " + std::to_string(AWait.count()) + " s e tente de novo.");
}

TRefusedMessage Refused(std::string AKind, std::string AText) {
  return {std::move(AKind), std::move(AText), {}};
}

}  // namespace

TRelayRegistry::TRelayRegistry(TRelayStore& AStore, TRegistryConfig AConfig,
                               const IRelayClock& AClock)
    : FStore(AStore),
      FConfig(std::move(AConfig)),
      FClock(AClock),
      FAccess(FConfig.Limits, AClock) {}

void TRelayRegistry::Open(const std::shared_ptr<TRelayPeer>& APeer) {
  std::lock_guard Guard(FLock);
  if (FDetached) return;
  TConnection& Connection = FConnections[APeer->ConnectionId()];
  Connection.Peer = APeer;
  Connection.Address = APeer->Address();
  Connection.Opened = FClock.Now();
}

std::shared_ptr<TRelayPeer> TRelayRegistry::Handle(std::uint64_t AConnection,
                                                   std::string&& AMessage) {
  TRole Role;
  {
    std::lock_guard Guard(FLock);
    const TConnection* Connection = FindLocked(AConnection);
    if (!Connection) return nullptr;
    Role = Connection->Role;
    if (AMessage.empty()) {
      if (Role != TRole::rlHost) SendLocked(AConnection, TRelayErrorMessage{"Mensagem vazia."});
      return nullptr;
    }
  }
  const auto Cmd = static_cast<std::uint8_t>(AMessage[0]);
  switch (Role) {
    case TRole::rlHost:
      return FromHost(AConnection, std::move(AMessage));
    case TRole::rlTechnician:
      return FromTechnician(AConnection, std::move(AMessage));
    case TRole::rlNone:
      if (Cmd == cmdHello) {
        Hello(AConnection, AMessage.substr(1));
        return nullptr;
      }
      return NotIdentified(AConnection, Cmd);
  }
  return nullptr;
}

void TRelayRegistry::Hello(std::uint64_t AConnection, const std::string& AText) {
  const auto Hello = THelloMessage::Decode(PayloadView(AText));
  if (Hello && Hello->Role == THelloRole::hrTechnician) {
    std::lock_guard Guard(FLock);
    if (TConnection* Connection = FindLocked(AConnection)) {
      Connection->Role = TRole::rlTechnician;
      Connection->Token = Hello->Token;
      SendLocked(AConnection, TWelcomeMessage{});
    }
    return;
  }
  if (Hello) {
    RegisterHost(AConnection, Hello->Id, Hello->Key);
    return;
  }
  std::lock_guard Guard(FLock);
  SendLocked(AConnection, Refused("hello", "Saudação inválida."));
  CloseLocked(AConnection);
}

void TRelayRegistry::RegisterHost(std::uint64_t AConnection, const std::string& AId,
                                  const std::string& AKey) {
  // A new ID (handed out, or brought along) adds to the database: limited per address.
  if (IsAcceptableId(AId) && (AId.empty() || !FStore.Known(AId)) && !MayRegister(AConnection)) {
    std::lock_guard Guard(FLock);
    SendLocked(AConnection,
               Refused("registro",
                       "Muitos computadores novos registrados deste endereço. Tente mais tarde."));
    CloseLocked(AConnection);
    return;
  }
  const auto Id = IsAcceptableId(AId) ? FStore.Register(AId, AKey) : std::nullopt;
  if (!Id) {
    std::lock_guard Guard(FLock);
    SendLocked(AConnection,
               Refused("registro", IsAcceptableId(AId) ? "Este ID pertence a outro computador."
                                                       : "ID inválido."));
    CloseLocked(AConnection);
    Log("registro recusado para o ID " + AId.substr(0, 32));
    return;
  }
  const int Count = FStore.PermanentCount(*Id);
  std::lock_guard Guard(FLock);
  TConnection* Connection = FindLocked(AConnection);
  if (!Connection) return;
  if (const auto Old = FHosts.find(*Id); Old != FHosts.end() && Old->second != AConnection) {
    if (TConnection* Previous = FindLocked(Old->second)) {
      UnpairLocked(*Previous, "O computador se reconectou; sessão encerrada.", false);
      CloseLocked(Old->second);
    }
  }
  Connection->Role = TRole::rlHost;
  Connection->HostId = *Id;
  FHosts[*Id] = AConnection;
  if (const auto Peer = Connection->Peer.lock()) Peer->AllowLargeMessages();
  SendLocked(AConnection, TWelcomeMessage{*Id});
  SendLocked(AConnection, TPermanentCountMessage{Count});
  if (!FConfig.InstallOffer.empty())
    SendLocked(AConnection, TInstallOfferMessage{FConfig.InstallOffer});
  // The brand goes out as configured, "code|name".
  if (!FConfig.Brand.empty()) SendLocked(AConnection, cmdBrand, FConfig.Brand);
  Log("computador " + *Id + " registrado");
}

bool TRelayRegistry::MayRegister(std::uint64_t AConnection) {
  std::lock_guard Guard(FLock);
  const TConnection* Connection = FindLocked(AConnection);
  return Connection && FAccess.MayRegister(Connection->Address);
}

void TRelayRegistry::Connect(std::uint64_t AConnection, const std::string& AText) {
  const auto Request = TConnectHostMessage::Decode(PayloadView(AText));
  const std::string Id = RemoveBlanks(Request->HostId);
  std::string Token;
  {
    std::lock_guard Guard(FLock);
    TConnection* Connection = FindLocked(AConnection);
    if (!Connection) return;
    if (const auto Wait = FAccess.RequestWait(Connection->Requests, Connection->Address);
        Wait.count()) {
      SendLocked(AConnection, TooMany(Wait));
      return;
    }
    const char* Refusal = Connection->Partner ? "Esta conexão já está em uma sessão."
                          : Id.empty()        ? "Informe o ID do computador."
                                              : nullptr;
    if (Refusal) {
      SendLocked(AConnection, Result(4, Refusal));
      return;
    }
    Token = Connection->Token;
  }
  const bool Permanent = !Token.empty() && FStore.HasPermanent(Id, Token);

  std::lock_guard Guard(FLock);
  TConnection* Connection = FindLocked(AConnection);
  if (!Connection) return;
  if (const auto Wait = FAccess.PairingWait(Connection->Address, Id, Permanent); Wait.count()) {
    SendLocked(AConnection, TooMany(Wait));
    return;
  }
  const auto Host = FHosts.find(Id);
  TConnection* HostConnection = Host == FHosts.end() ? nullptr : FindLocked(Host->second);
  if (!HostConnection) {
    // Whether an ID exists is nobody's business but of those with permanent access to it.
    SendLocked(AConnection, Permanent ? Result(2, "O computador está desconectado.")
                                      : Result(1, "ID desconhecido ou computador desconectado."));
    return;
  }
  if (HostConnection->Partner) {
    SendLocked(AConnection, Result(3, "O computador já está em atendimento."));
    return;
  }
  Connection->Partner = Host->second;
  Connection->AdmitBy = FClock.Now() + std::chrono::seconds(FConfig.Limits.AdmissionTimeout);
  HostConnection->Partner = AConnection;
  SendLocked(AConnection, Result(0, "Conectado.", Permanent ? "permanente" : "senha"));
  const std::string Peer = std::to_string(AConnection);
  if (Permanent)
    SendLocked(Host->second, TTrustedAccessMessage{Peer, Request->Name, Request->Qualifier});
  else
    SendLocked(Host->second, TAccessRequestMessage{Peer, Request->Name, Request->Qualifier});
  Log("atendente #" + std::to_string(AConnection) + " em sessão com " + Id +
      (Permanent ? " (permanente)" : " (senha)"));
}

std::shared_ptr<TRelayPeer> TRelayRegistry::FromHost(std::uint64_t AConnection,
                                                     std::string&& AMessage) {
  const auto Cmd = static_cast<std::uint8_t>(AMessage[0]);
  if (Cmd == cmdRevokePermanent) {
    std::string Id;
    {
      std::lock_guard Guard(FLock);
      if (const TConnection* Connection = FindLocked(AConnection)) Id = Connection->HostId;
    }
    if (Id.empty()) return nullptr;
    FStore.RevokePermanent(Id);
    std::lock_guard Guard(FLock);
    SendLocked(AConnection, TPermanentCountMessage{0});
    Log("acessos permanentes de " + Id + " revogados pelo computador");
    return nullptr;
  }
  std::lock_guard Guard(FLock);
  TConnection* Connection = FindLocked(AConnection);
  if (!Connection || Connection->Role != TRole::rlHost) return nullptr;
  if (Cmd == cmdHostEnd) UnpairLocked(*Connection, "Sessão encerrada pelo computador.", true);
  if (Cmd == cmdProofAccepted) AdmitLocked(*Connection);
  if (Cmd == cmdAccessResult) {
    const auto Result = TAccessResultMessage::Decode(PayloadView(AMessage).subspan(1));
    if (Result && Result->Value) AdmitLocked(*Connection);
  }
  if (IsSessionMessage(Cmd) && (Connection->Admitted || IsAdmissionMessage(Cmd, true)))
    return ForwardLocked(*Connection, std::move(AMessage));
  return nullptr;
}

std::shared_ptr<TRelayPeer> TRelayRegistry::FromTechnician(std::uint64_t AConnection,
                                                           std::string&& AMessage) {
  const auto Cmd = static_cast<std::uint8_t>(AMessage[0]);
  if (Cmd == cmdConnectHost) {
    Connect(AConnection, AMessage.substr(1));
    return nullptr;
  }
  std::lock_guard Guard(FLock);
  TConnection* Connection = FindLocked(AConnection);
  if (!Connection) return nullptr;
  if (Cmd == cmdHostEnd) {
    UnpairLocked(*Connection, {}, true);
  } else if (IsSessionMessage(Cmd)) {
    // Before admission anything but the proof is dropped without an answer, which would only
    // multiply what a flood of them costs.
    if (Connection->Admitted || (Connection->Partner && IsAdmissionMessage(Cmd, false)))
      return ForwardLocked(*Connection, std::move(AMessage));
    if (!Connection->Partner)
      SendLocked(AConnection,
                 TRelayErrorMessage{"Nenhuma sessão ativa; peça a conexão (50) antes."});
  } else if (Cmd == cmdHello) {
    SendLocked(AConnection, TRelayErrorMessage{"Saudação repetida."});
  } else if (Cmd >= cmdHello && Cmd <= cmdBrand) {
    SendLocked(AConnection, TRelayErrorMessage{"A mensagem " + std::to_string(Cmd) +
                                               " não é aceita de um atendente."});
  } else {
    SendLocked(AConnection,
               TRelayErrorMessage{"Mensagem desconhecida: " + std::to_string(Cmd) + "."});
  }
  return nullptr;
}

std::shared_ptr<TRelayPeer> TRelayRegistry::NotIdentified(std::uint64_t AConnection,
                                                          std::uint8_t ACmd) {
  std::lock_guard Guard(FLock);
  if (ACmd == cmdConnectHost)
    SendLocked(AConnection, Result(4, "Envie a saudação antes do pedido."));
  else
    SendLocked(AConnection, TRelayErrorMessage{"Envie a saudação (mensagem 1) primeiro."});
  return nullptr;
}

void TRelayRegistry::Leave(std::uint64_t AConnection) {
  std::lock_guard Guard(FLock);
  TConnection* Connection = FindLocked(AConnection);
  if (!Connection) return;
  UnpairLocked(*Connection, "O computador se desconectou.",
               Connection->Role == TRole::rlTechnician);
  if (Connection->Role == TRole::rlHost) {
    const auto Host = FHosts.find(Connection->HostId);
    if (Host != FHosts.end() && Host->second == AConnection) {
      FHosts.erase(Host);
      Log("computador " + Connection->HostId + " desconectado");
    }
  }
  FConnections.erase(AConnection);
}

bool TRelayRegistry::SendToHost(const std::string& AId, std::uint8_t ACmd,
                                const std::string& APayload) {
  std::lock_guard Guard(FLock);
  const auto Host = FHosts.find(AId);
  if (Host == FHosts.end()) return false;
  SendLocked(Host->second, ACmd, APayload);
  return true;
}

std::vector<THostStatus> TRelayRegistry::Status() {
  std::vector<THostStatus> Result;
  for (auto& Id : FStore.HostIds()) Result.push_back({std::move(Id)});
  std::lock_guard Guard(FLock);
  for (auto& Host : Result) {
    const auto Online = FHosts.find(Host.Id);
    if (Online == FHosts.end()) continue;
    Host.Online = true;
    const TConnection* Connection = FindLocked(Online->second);
    Host.InSession = Connection && Connection->Partner != 0;
  }
  return Result;
}

void TRelayRegistry::Noop() {
  std::lock_guard Guard(FLock);
  for (const auto& [Id, Connection] : FHosts) SendLocked(Connection, TRelayNoopMessage{});
}

void TRelayRegistry::Tick() {
  std::lock_guard Guard(FLock);
  const TRelayTime Now = FClock.Now();
  const auto HelloTimeout = std::chrono::seconds(FConfig.Limits.HelloTimeout);
  std::vector<std::uint64_t> Silent, Lapsed;
  for (const auto& [Id, Connection] : FConnections) {
    if (Connection.Role == TRole::rlNone && Now - Connection.Opened >= HelloTimeout)
      Silent.push_back(Id);
    if (Connection.Role == TRole::rlTechnician && Connection.Partner && !Connection.Admitted &&
        Now >= Connection.AdmitBy)
      Lapsed.push_back(Id);
  }
  for (const auto Id : Silent) CloseLocked(Id);
  for (const auto Id : Lapsed) {
    UnpairLocked(FConnections.at(Id), {}, true);
    SendLocked(Id, TSessionEndedMessage{"O acesso não foi confirmado a tempo. Tente de novo."});
    Log("atendente #" + std::to_string(Id) + " não foi admitido a tempo");
  }
  FAccess.Forget();
}

void TRelayRegistry::Detach() {
  std::lock_guard Guard(FLock);
  FDetached = true;
  FHosts.clear();
  FConnections.clear();
}

void TRelayRegistry::SendLocked(std::uint64_t AConnection, std::uint8_t ACmd,
                                std::string_view APayload) {
  const TConnection* Connection = FindLocked(AConnection);
  if (!Connection) return;
  if (const auto Peer = Connection->Peer.lock()) Peer->Send(MakeMessage(ACmd, APayload));
}

// Forgets the connection, so that whatever else it sends is ignored, and closes it once the
// messages queued for it are out.
void TRelayRegistry::CloseLocked(std::uint64_t AConnection) {
  const TConnection* Connection = FindLocked(AConnection);
  if (!Connection) return;
  const auto Peer = Connection->Peer.lock();
  FConnections.erase(AConnection);
  if (Peer) Peer->Close();
}

// The partner learns of the end by message 6: a technician with ATechnicianText, a host with
// an empty payload.
void TRelayRegistry::UnpairLocked(TConnection& AConnection, std::string_view ATechnicianText,
                                  bool AFailed) {
  if (!AConnection.Partner) return;
  const std::uint64_t PartnerId = AConnection.Partner;
  const bool Admitted = AConnection.Admitted;
  AConnection.Partner = 0;
  AConnection.Admitted = false;
  TConnection* Partner = FindLocked(PartnerId);
  if (!Partner) return;
  Partner->Partner = 0;
  Partner->Admitted = false;
  if (AFailed && !Admitted) {
    const bool Technician = AConnection.Role == TRole::rlTechnician;
    FAccess.PairingFailed(Technician ? AConnection.Address : Partner->Address,
                          Technician ? Partner->HostId : AConnection.HostId);
  }
  SendLocked(PartnerId, TSessionEndedMessage{Partner->Role == TRole::rlTechnician
                                                 ? std::string(ATechnicianText)
                                                 : std::string()});
}

void TRelayRegistry::AdmitLocked(TConnection& AHost) {
  TConnection* Technician = FindLocked(AHost.Partner);
  if (!Technician || AHost.Admitted) return;
  AHost.Admitted = Technician->Admitted = true;
  FAccess.Admitted(AHost.HostId);
  if (const auto Peer = Technician->Peer.lock()) Peer->AllowLargeMessages();
}

std::shared_ptr<TRelayPeer> TRelayRegistry::ForwardLocked(TConnection& AFrom,
                                                          std::string&& AMessage) {
  const TConnection* Partner = FindLocked(AFrom.Partner);
  auto Peer = Partner ? Partner->Peer.lock() : nullptr;
  if (Peer) Peer->Send(std::move(AMessage));
  return Peer;
}

TRelayRegistry::TConnection* TRelayRegistry::FindLocked(std::uint64_t AConnection) {
  if (FDetached) return nullptr;
  const auto Found = FConnections.find(AConnection);
  return Found == FConnections.end() ? nullptr : &Found->second;
}

}  // namespace halvora::relay
