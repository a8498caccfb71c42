#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

namespace halvora::relay {

class TRelayRegistry;
class TRelayHttp;

// What every connection of one server shares; outlives all of its connections' I/O.
struct TSessionContext {
  TRelayRegistry& Registry;
  TRelayHttp& Http;
  boost::asio::ssl::context* Tls;  // set: the connection may open with a TLS handshake
};

// Serves one accepted connection (whose executor is a strand): detects TLS when the context
// has a certificate, then answers HTTP requests until one asks for a WebSocket at /relay,
// which then becomes a relay connection of the registry.
void ServeConnection(boost::asio::ip::tcp::socket ASocket, const TSessionContext& AContext);

}  // namespace halvora::relay
