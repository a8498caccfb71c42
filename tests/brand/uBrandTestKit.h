#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/uBytes.h"
#include "support/uTestFiles.h"
#include "support/uWaitUntil.h"

namespace halvora::relay {
class TRelayServer;
}

namespace halvora::test {

// A PNG of AWidth × AHeight filled with one opaque colour (0xRRGGBB).
TIdBytes MakePng(std::uint32_t AWidth, std::uint32_t AHeight, std::uint32_t AColor = 0x3366CC);

std::string AsString(const TIdBytes& ABytes);

// How the loopback server treats one request.
struct THttpReply {
  enum class TKind {
    hrAnswer,   // sends Raw and closes
    hrStall,    // keeps the connection open and never answers
    hrTrickle,  // sends Raw, then one body byte every 50 ms without end
  };
  TKind Kind = TKind::hrAnswer;
  std::string Raw;
};

// A complete HTTP/1.1 answer with Content-Length and Connection: close.
THttpReply Answer(int AStatus, const std::string& ABody,
                  const std::string& AContentType = "application/json");
THttpReply Stall();
THttpReply Trickle();

// A small HTTP server on 127.0.0.1 (port 0) with one I/O thread that answers every request
// through AHandler, given the request target exactly as it arrived. A TLS client hello never
// ends a request, so an https URL to it stalls in the handshake.
class TLoopbackHttp {
 public:
  explicit TLoopbackHttp(std::function<THttpReply(const std::string& ATarget)> AHandler);
  ~TLoopbackHttp();
  TLoopbackHttp(const TLoopbackHttp&) = delete;
  TLoopbackHttp& operator=(const TLoopbackHttp&) = delete;

  std::string Url() const;        // http://127.0.0.1:<port>
  std::string SecureUrl() const;  // https://127.0.0.1:<port>
  std::vector<std::string> Targets() const;
  std::size_t Connections() const;

  struct TConnection;

 private:
  void Accept();
  void Serve(std::shared_ptr<TConnection> AConnection);

  boost::asio::io_context FIo;
  boost::asio::ip::tcp::acceptor FAcceptor;
  const std::function<THttpReply(const std::string&)> FHandler;
  mutable std::mutex FLock;
  std::vector<std::string> FTargets;
  std::size_t FConnections = 0;
  std::vector<std::shared_ptr<TConnection>> FHeld;  // stalled ones, I/O thread only
  std::thread FThread;
};

// The reference relay in this process, serving the brand service from a folder of its own;
// with ASecure, over TLS with a certificate for 127.0.0.1 from a test authority.
class TBrandRelay {
 public:
  explicit TBrandRelay(bool ASecure = false);
  ~TBrandRelay();

  // Brands may be added while the relay runs; an empty logo means none.
  void AddBrand(const std::string& ACode, const std::string& AName, const TIdBytes& ALogo = {});
  std::string Url() const;     // the brand service's base URL
  std::string CaFile() const;  // PEM of the test authority (secure relays)

 private:
  TTempFolder FFolder;
  bool FSecure;
  std::unique_ptr<relay::TRelayServer> FServer;
};

}  // namespace halvora::test
