#pragma once

#include <boost/asio/ip/address.hpp>
#include <string>
#include <string_view>

#include "relay/uRelayAdmin.h"
#include "relay/uRelayReply.h"

namespace halvora::relay {

class TRelayRegistry;
class TRelayStore;

// True for 127.0.0.0/8, ::1 and IPv4-mapped loopback addresses.
bool IsLoopback(const boost::asio::ip::address& AAddress);

// The policy of static files: scripts, styles and images of the relay's own origin only (no
// inline code), WebSocket connections to the relay itself, no plug-ins, no <base>, no framing.
inline constexpr std::string_view StaticContentPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; object-src 'none'; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'";

// Answers every plain HTTP request the relay takes: the admin endpoint (see TAdminGuard), the
// brand service and static files.
class TRelayHttp {
 public:
  // An empty AAdminToken turns the admin endpoint off.
  TRelayHttp(TRelayRegistry& ARegistry, TRelayStore& AStore, std::string ABrandsFolder,
             std::string AStaticFolder, std::string_view AAdminToken);

  THttpReply Handle(const THttpRequest& ARequest);

 private:
  TRelayRegistry& FRegistry;
  TRelayStore& FStore;
  const std::string FBrandsFolder, FStaticFolder;
  const TAdminGuard FAdmin;
};

}  // namespace halvora::relay
