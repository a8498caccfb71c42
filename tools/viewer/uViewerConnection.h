#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "uWire.h"

namespace halvora::viewer {

using TClock = std::chrono::steady_clock;

// A relay address: ws://host[:port][/path] or wss://…; the path defaults to "/relay".
struct TRelayUrl {
  bool Secure = false;
  std::string Host;  // an IPv6 address without its brackets
  std::uint16_t Port = 0;
  std::string Path;
};

bool ParseRelayUrl(std::string_view AUrl, TRelayUrl& AResult);

enum class TReceiveStatus { rsMessage, rsTimeout, rsClosed };

// The WebSocket link to the relay (ws, or wss with the certificate checked against the
// system's CAs, an optional extra CA file, and the host name or address). Every message is
// one binary WebSocket message: the command byte, then the payload. Single-threaded: all I/O
// runs on the calling thread inside Open, Send, Receive and Close.
class TViewerConnection {
 public:
  TViewerConnection();
  ~TViewerConnection();
  TViewerConnection(const TViewerConnection&) = delete;
  TViewerConnection& operator=(const TViewerConnection&) = delete;

  // Connects, runs TLS for wss and upgrades, all by ADeadline; false with AError otherwise.
  bool Open(const TRelayUrl& AUrl, const std::string& ACaFile, TClock::time_point ADeadline,
            std::string& AError);
  // Sends one message; false when the link is down or the write fails (the link is then down).
  bool Send(std::uint8_t ACmd, const TBytes& APayload);
  // The next message, waiting until ADeadline; rsClosed once the link is down. Messages of
  // zero bytes are skipped.
  TReceiveStatus Receive(std::uint8_t& ACmd, TBytes& APayload, TClock::time_point ADeadline);
  // Closing handshake (bounded by a few seconds), then the socket is closed.
  void Close();

 private:
  class TImpl;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace halvora::viewer
