#include "protocol/uConnection.h"

#include "base/uAscii.h"
#include "protocol/uMessages.h"

namespace halvora {
namespace {

constexpr std::size_t ReceiveBufferSize = 65536;
constexpr std::uint32_t RetryWait = 3000;
constexpr std::uint32_t RefusedWait = 60000;
constexpr unsigned DestroyPoll = 20;
constexpr std::uint32_t DrainPoll = 100;  // ms; termination is checked between waits

}  // namespace

TRelayUrl TRelayClient::ParseUrl(std::string_view AUrl) {
  TRelayUrl Url;
  std::string_view S = TrimBlanks(AUrl);
  if (const auto Sep = S.find("://"); Sep != std::string_view::npos) {
    const std::string_view Scheme = S.substr(0, Sep);
    Url.Secure = SameTextAscii(Scheme, "wss") || SameTextAscii(Scheme, "https");
    S.remove_prefix(Sep + 3);
  }
  std::string_view HostPort = S;
  if (const auto Slash = S.find('/'); Slash != std::string_view::npos) {
    HostPort = S.substr(0, Slash);
    Url.Path = std::string(S.substr(Slash));
  }
  Url.Port = Url.Secure ? 443 : 80;
  if (const auto Colon = HostPort.rfind(':'); Colon != std::string_view::npos) {
    Url.Port = ParseDecimal(HostPort.substr(Colon + 1)).value_or(Url.Port);
    HostPort = HostPort.substr(0, Colon);
  }
  Url.Host = std::string(HostPort);
  return Url;
}

std::unique_ptr<TRelayClient> TRelayClient::CreateCliente(std::string_view AUrl, std::string AId,
                                                          std::string AChave,
                                                          TRelayEnvironment AEnv) {
  std::unique_ptr<TRelayClient> Client(
      new TRelayClient(AUrl, std::move(AId), std::move(AChave), std::move(AEnv)));
  Client->Start();
  return Client;
}

TRelayClient::TRelayClient(std::string_view AUrl, std::string AId, std::string AChave,
                           TRelayEnvironment AEnv)
    : TThread(*AEnv.Queue),
      FId(std::move(AId)),
      FChave(std::move(AChave)),
      FTransports(std::move(AEnv.Transports)),
      FClock(*AEnv.Clock) {
  const TRelayUrl Url = ParseUrl(AUrl);
  FSecure = Url.Secure;
  FHost = Url.Host;
  FPort = Url.Port;
  FPath = Url.Path;
}

TRelayClient::~TRelayClient() {
  Terminate();
  FWake.SetEvent();
  FDrained.SetEvent();
  // Closing the connection makes a blocked open, receive or send on the client's thread
  // return; repeat it, since an attempt may have begun just after the previous close.
  while (!Finished()) {
    CloseHandles();
    WaitFinished(DestroyPoll);
  }
  StopThread();
  CloseHandles();
}

void TRelayClient::SetOnDirectPacket(TDirectPacketFunc AFunc) {
  std::lock_guard Guard(FDirectLock);
  FOnDirect = std::move(AFunc);
}

void TRelayClient::SetOnLinkLost(std::function<void()> AFunc) {
  std::lock_guard Guard(FDirectLock);
  FOnLinkLost = std::move(AFunc);
}

bool TRelayClient::OpenSocket() {
  if (FHost.empty() || FPort < 1 || FPort > 65535 || !FTransports) return false;
  std::shared_ptr<IRelayTransport> Request = FTransports->NewTransport();
  if (!Request) return false;
  {
    std::lock_guard Guard(FHandleLock);
    FRequest = Request;
  }
  if (!Request->Open(FHost, static_cast<std::uint16_t>(FPort), FPath, FSecure)) return false;
  {
    std::lock_guard Guard(FHandleLock);
    // Another thread may have closed the attempt while it was opening.
    if (FRequest == Request) {
      FSocket = std::move(FRequest);
      FRequest.reset();
      return true;
    }
  }
  Request->Close();
  return false;
}

bool TRelayClient::ReceiveMessage(std::uint8_t& ACmd, TIdBytes& APayload) {
  ACmd = 0;
  APayload.clear();
  TIdBytes Stream;
  std::uint8_t Buffer[ReceiveBufferSize];
  for (;;) {
    std::shared_ptr<IRelayTransport> Socket;
    {
      std::lock_guard Guard(FHandleLock);
      Socket = FSocket;
    }
    if (!Socket) return false;
    std::size_t Read = 0;
    TBufferType Type = TBufferType::btClose;
    if (!Socket->Receive(Buffer, sizeof Buffer, Read, Type)) return false;
    if (Type == TBufferType::btClose) return false;
    Stream.insert(Stream.end(), Buffer, Buffer + Read);
    if (Stream.size() > MaxMessageSize) return false;
    if (Type == TBufferType::btBinaryFragment || Type == TBufferType::btUtf8Fragment) continue;
    if (Stream.empty()) return false;
    ACmd = Stream.front();
    APayload.assign(Stream.begin() + 1, Stream.end());
    return true;
  }
}

bool TRelayClient::Send(std::uint8_t ACmd, const TIdBytes& APayload) {
  TIdBytes Frame;
  Frame.reserve(APayload.size() + 1);
  Frame.push_back(ACmd);
  Frame.insert(Frame.end(), APayload.begin(), APayload.end());

  std::lock_guard WriteGuard(FWriteLock);
  if (!FOnline) return false;
  std::shared_ptr<IRelayTransport> Socket;
  {
    std::lock_guard Guard(FHandleLock);
    Socket = FSocket;
  }
  const bool Sent = Socket && Socket->Send(Frame);
  if (!Sent) {
    // Closing the connection also ends the blocked receive, which starts the reconnect cycle.
    FOnline = false;
    CloseHandles();
  }
  return Sent;
}

void TRelayClient::CloseHandles() {
  std::shared_ptr<IRelayTransport> Socket;
  std::shared_ptr<IRelayTransport> Request;
  {
    std::lock_guard Guard(FHandleLock);
    Socket = std::move(FSocket);
    Request = std::move(FRequest);
    FSocket.reset();
    FRequest.reset();
  }
  if (Socket) Socket->Close();
  if (Request) Request->Close();
}

void TRelayClient::SetOnline(bool AValue) {
  std::lock_guard Guard(FWriteLock);
  FOnline = AValue;
}

bool TRelayClient::CallDirect(std::uint8_t ACmd, const TIdBytes& APayload) {
  std::lock_guard Guard(FDirectLock);
  return FOnDirect && FOnDirect(ACmd, APayload);
}

void TRelayClient::CallLinkLost() {
  std::lock_guard Guard(FDirectLock);
  if (FOnLinkLost) FOnLinkLost();
}

// The hooks are copied before they run: a hook may destroy this client (the owner replaces
// it or shuts the link down), which must not destroy the hook while it runs.
void TRelayClient::QueuePacket(std::uint8_t ACmd, TIdBytes APayload) {
  while (FQueuedBytes.load() > MaxQueuedBytes && !Terminated()) {
    FDrained.ResetEvent();
    if (FQueuedBytes.load() <= MaxQueuedBytes) break;
    FClock.WaitFor(FDrained, DrainPoll);
  }
  const std::size_t Size = APayload.size();
  FQueuedBytes += Size;
  Queue([this, ACmd, Size, Payload = std::move(APayload)] {
    FQueuedBytes -= Size;
    FDrained.SetEvent();
    if (const TPacketEvent Hook = FOnPacket) Hook(ACmd, Payload);
  });
}

void TRelayClient::QueueOnline(bool AValue) {
  Queue([this, AValue] {
    if (const TOnlineEvent Hook = FOnOnline) Hook(AValue);
  });
}

void TRelayClient::Execute() {
  while (!Terminated()) {
    bool WasOnline = false;
    try {
      if (OpenSocket() && !Terminated()) {
        SetOnline(true);
        WasOnline = true;
        QueueOnline(true);
        Send(cmdHello, THelloMessage::Host(FId, FChave).Encode());
        std::uint8_t Cmd = 0;
        TIdBytes Payload;
        while (!Terminated() && ReceiveMessage(Cmd, Payload)) {
          switch (Cmd) {
            case cmdWelcome:
              FId = TWelcomeMessage::Decode(Payload)->Text;
              QueuePacket(Cmd, std::move(Payload));
              break;
            case cmdRelayNoop:
              break;
            case cmdRefused:
              FRecusado = true;
              QueuePacket(Cmd, std::move(Payload));
              break;
            default:
              if (!CallDirect(Cmd, Payload)) QueuePacket(Cmd, std::move(Payload));
          }
        }
      }
    } catch (...) {
      // Any failure ends this connection; the cycle below reconnects.
    }
    SetOnline(false);
    CloseHandles();
    if (WasOnline && !Terminated()) {
      CallLinkLost();
      QueueOnline(false);
    }
    if (Terminated()) break;
    FClock.WaitFor(FWake, FRecusado ? RefusedWait : RetryWait);
    FRecusado = false;
  }
}

}  // namespace halvora
