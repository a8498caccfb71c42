#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "base/uBytes.h"
#include "base/uClock.h"
#include "base/uEvent.h"
#include "base/uMainQueue.h"
#include "base/uThread.h"
#include "protocol/uTransport.h"

namespace halvora {

using TPacketEvent = std::function<void(std::uint8_t ACmd, const TIdBytes& APayload)>;
using TOnlineEvent = std::function<void(bool AOnline)>;
// Returns true when it has consumed the message.
using TDirectPacketFunc = std::function<bool(std::uint8_t ACmd, const TIdBytes& APayload)>;

// A relay address taken apart.
struct TRelayUrl {
  bool Secure = true;
  std::string Host;
  int Port = 443;  // may lie outside 1..65535; such an address never connects
  std::string Path = "/relay";
};

// Where a client gets its connections, its time and its main thread from; tests replace them.
struct TRelayEnvironment {
  std::shared_ptr<ITransportFactory> Transports;  // set by the platform's composition, or a test's
  IClock* Clock = &SystemClock();
  TMainQueue* Queue = &MainQueue();
};

// Keeps one WebSocket connection to the relay on a thread of its own: connects, sends the
// hello, reads messages and hands each to the direct hook or the main thread, and
// reconnects 3 s after every loss (60 s after the relay refused the registration).
// Any thread may Send; sends are serialised.
class TRelayClient final : public TThread {
 public:
  static std::unique_ptr<TRelayClient> CreateCliente(std::string_view AUrl, std::string AId,
                                                     std::string AChave,
                                                     TRelayEnvironment AEnv);
  ~TRelayClient() override;

  static TRelayUrl ParseUrl(std::string_view AUrl);

  // Sends one message; false (and nothing sent) while not connected or when the send fails.
  bool Send(std::uint8_t ACmd, const TIdBytes& APayload);

  // OnPacket and OnOnline run on the main thread. OnDirectPacket runs on the client's thread
  // for every message before it could be queued, between two receives, so it must be short;
  // OnLinkLost runs there too when a connection ends, before OnOnline(false) is queued.
  void SetOnPacket(TPacketEvent AEvent) { FOnPacket = std::move(AEvent); }
  void SetOnOnline(TOnlineEvent AEvent) { FOnOnline = std::move(AEvent); }
  void SetOnDirectPacket(TDirectPacketFunc AFunc);
  void SetOnLinkLost(std::function<void()> AFunc);

 protected:
  void Execute() override;

 private:
  TRelayClient(std::string_view AUrl, std::string AId, std::string AChave, TRelayEnvironment AEnv);

  bool OpenSocket();
  bool ReceiveMessage(std::uint8_t& ACmd, TIdBytes& APayload);
  void CloseHandles();
  void SetOnline(bool AValue);
  bool CallDirect(std::uint8_t ACmd, const TIdBytes& APayload);
  void CallLinkLost();
  void QueuePacket(std::uint8_t ACmd, TIdBytes APayload);
  void QueueOnline(bool AValue);

  // Received payload bytes handed to the main thread and not yet taken there; the receive
  // loop holds off while there are more than MaxQueuedBytes, so a peer that sends faster
  // than the main thread handles (a file transfer) slows down instead of filling memory.
  static constexpr std::size_t MaxQueuedBytes = 8 * 1024 * 1024;
  std::atomic<std::size_t> FQueuedBytes{0};
  TEvent FDrained{true, false};  // set by the main thread as it takes packets

  std::mutex FWriteLock;   // serialises Send and every change of FOnline
  std::mutex FHandleLock;  // guards FRequest and FSocket; taken inside FWriteLock, never around it
  TEvent FWake{true, false};
  bool FSecure = true;
  std::string FHost;
  int FPort = 443;
  std::string FPath;
  std::shared_ptr<IRelayTransport> FRequest;  // the attempt whose upgrade is in progress
  std::shared_ptr<IRelayTransport> FSocket;   // the open connection
  std::string FId;
  const std::string FChave;
  bool FRecusado = false;
  bool FOnline = false;
  TPacketEvent FOnPacket;
  TOnlineEvent FOnOnline;
  std::mutex FDirectLock;  // the direct hooks may be assigned while the thread already runs
  TDirectPacketFunc FOnDirect;
  std::function<void()> FOnLinkLost;
  const std::shared_ptr<ITransportFactory> FTransports;
  IClock& FClock;
};

}  // namespace halvora
