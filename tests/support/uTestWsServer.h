#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/uBytes.h"

namespace halvora::test {

// smScripted: the test reads and sends; smEcho: every message goes back unchanged as binary;
// smSink: messages are counted and discarded.
enum class TServerMode { smScripted, smEcho, smSink };

struct TServerOptions {
  bool Secure = false;  // wss: TLS with CertPem/KeyPem
  std::string CertPem{}, KeyPem{};  // initialised so designated initialisers may omit them
  TServerMode Mode = TServerMode::smScripted;
};

class TWsConnectionState;  // shared with the server's I/O thread, see uTestWsServer.cpp

// One upgraded connection, driven from the test thread. Its I/O runs on the server's thread;
// the Send calls and Drop hand their work over to it and wait until it is done.
class TTestWsConnection {
 public:
  explicit TTestWsConnection(std::shared_ptr<TWsConnectionState> AState);
  TTestWsConnection(const TTestWsConnection&) = delete;
  TTestWsConnection& operator=(const TTestWsConnection&) = delete;

  // The next whole message the client sent (binary or text); false on timeout or once the
  // connection ended and nothing is left. Echo and sink modes never queue messages.
  bool Read(TIdBytes& AMessage, std::chrono::milliseconds ATimeout = std::chrono::seconds(10));
  bool SendBinary(const TIdBytes& AMessage);  // one binary message, one frame
  bool SendText(const std::string& AText);    // one text message, one frame
  // One message sent as several frames: the first part in the first frame, each further part
  // in a continuation frame, the last with FIN.
  bool SendFragmented(const std::vector<TIdBytes>& AParts, bool AText);
  // Starts the closing handshake with a close frame (normal); true when it could be started.
  // Nothing can be sent afterwards.
  bool SendClose();
  void Drop();  // closes the TCP connection, no close frame
  // True once the connection has ended (client closed it, dropped it, or Drop).
  bool WaitClosed(std::chrono::milliseconds ATimeout = std::chrono::seconds(10));

  std::string Target() const;      // request target of the upgrade request, e.g. "/relay"
  std::string UserAgent() const;   // User-Agent header of the upgrade request
  std::string HostHeader() const;  // Host header
  std::string ServerName() const;  // SNI the client sent (wss); empty when none

 private:
  std::shared_ptr<TWsConnectionState> FState;
};

// A WebSocket server (ws or wss) on 127.0.0.1 with one I/O thread.
class TTestWsServer {
 public:
  explicit TTestWsServer(TServerOptions AOptions = {});
  // Stops promptly: every connection is closed and the I/O thread joined.
  ~TTestWsServer();
  TTestWsServer(const TTestWsServer&) = delete;
  TTestWsServer& operator=(const TTestWsServer&) = delete;

  std::uint16_t Port() const;  // bound on 127.0.0.1, port chosen by the system
  // The next connection that completed the WebSocket upgrade, in arrival order (in every
  // mode); nullptr on timeout.
  std::shared_ptr<TTestWsConnection> Accept(
      std::chrono::milliseconds ATimeout = std::chrono::seconds(10));
  int UpgradeCount() const;  // upgrades completed so far
  int TcpCount() const;      // TCP connections accepted so far, also those that failed later
  // Messages received over all connections, and a wait until there are at least ACount.
  std::uint64_t MessagesReceived() const;
  bool WaitMessages(std::uint64_t ACount,
                    std::chrono::milliseconds ATimeout = std::chrono::seconds(30));

 private:
  class TImpl;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace halvora::test
