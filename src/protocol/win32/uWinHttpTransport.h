#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "protocol/uTransport.h"

namespace halvora {

// WebSocket transport on synchronous WinHTTP: user agent "Halvora", the system's proxy
// settings, certificates and host names checked by the system. Open, Receive and Send block
// the calling thread; Close, from any thread, shuts the WebSocket down and closes every handle,
// which makes a blocked receive return (under Wine, once the peer answers the close frame).
// The upgrade runs on a thread of its own, which Open leaves at Close: WinHTTP promises to end
// a request at the close of its handle only when the request is asynchronous, and Wine does
// not end a synchronous one.
class TWinHttpTransport final : public IRelayTransport {
 public:
  TWinHttpTransport() = default;
  ~TWinHttpTransport() override;
  TWinHttpTransport(const TWinHttpTransport&) = delete;
  TWinHttpTransport& operator=(const TWinHttpTransport&) = delete;

  bool Open(const std::string& AHost, std::uint16_t APort, const std::string& APath,
            bool ASecure) override;
  bool Receive(std::uint8_t* ABuffer, std::size_t ASize, std::size_t& ARead,
               TBufferType& AType) override;
  bool Send(const TIdBytes& AFrame) override;
  void Close() override;

 private:
  using THandle = void*;  // HINTERNET

  struct TUpgrade;

  // Keeps AHandle in AField unless Close came first; then closes it and returns false.
  bool Keep(THandle& AField, THandle AHandle);
  // The WebSocket of ARequest once the server switched protocols; null on failure or at Close.
  THandle Upgrade(THandle ARequest);
  THandle CurrentSocket();
  bool Closed();

  std::mutex FHandleLock;  // guards the four handles, FUpgrade and FClosed
  std::shared_ptr<TUpgrade> FUpgrade;  // the upgrade in progress
  THandle FSession = nullptr;
  THandle FConnect = nullptr;
  THandle FRequest = nullptr;
  THandle FSocket = nullptr;
  bool FClosed = false;
};

// Makes a WinHTTP transport for every connection attempt.
class TWinHttpTransportFactory final : public ITransportFactory {
 public:
  std::shared_ptr<IRelayTransport> NewTransport() override;
};

}  // namespace halvora
