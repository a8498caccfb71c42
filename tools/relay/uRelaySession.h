#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <chrono>

namespace halvora::relay {

class TRelayRegistry;
class TRelayHttp;
class TAddressTable;
class TByteBudget;

// What every connection of one server shares; outlives all of its connections' I/O.
struct TSessionContext {
  TRelayRegistry& Registry;
  TRelayHttp& Http;
  boost::asio::ssl::context* Tls;     // set: the connection may open with a TLS handshake
  TAddressTable& Addresses;           // connections and queued bytes per address
  TByteBudget& Queued;                // bytes queued for all connections together
  std::chrono::seconds HelloTimeout;  // for the first bytes of a connection
};

// Serves one accepted connection (whose executor is a strand): detects TLS when the context
// has a certificate, then answers HTTP requests until one asks for a WebSocket at /relay,
// which then becomes a relay connection of the registry. A connection from an address that
// has the most connections it may is closed at once.
void ServeConnection(boost::asio::ip::tcp::socket ASocket, const TSessionContext& AContext);

}  // namespace halvora::relay
