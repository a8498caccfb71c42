#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "relay/uRelayReply.h"

namespace halvora::relay {

class TRelayRegistry;
class TRelayStore;

// Who may use the admin endpoint: a peer on a loopback address that names the relay by its
// loopback name, comes from no other site (no foreign Origin, Sec-Fetch-Site "none" or
// "same-origin" when present) and shows the token as "Authorization: Bearer <token>". A web
// page the operator happens to open can therefore not drive the endpoint, even through a name
// that resolves to 127.0.0.1. Without a token the endpoint is off.
class TAdminGuard {
 public:
  explicit TAdminGuard(std::string_view AToken);

  // The answer for a request that may not pass; nothing when it may.
  std::optional<THttpReply> Refusal(const THttpRequest& ARequest) const;

 private:
  const bool FOn;
  const std::string FTokenHash;  // the token's SHA-256, compared in constant time
};

// The admin token: AToken, else the content of ATokenFile with blanks trimmed; empty when both
// are empty. Throws std::runtime_error (Portuguese text) when the file cannot be read or holds
// no token.
std::string LoadAdminToken(const std::string& AToken, const std::string& ATokenFile);

// True for "127.0.0.1", "[::1]" and "localhost" (any case), alone or followed by ":APort".
bool IsLoopbackHost(std::string_view AHost, std::uint16_t APort);

// The admin endpoint (the caller lets only requests pass that TAdminGuard accepts):
//   GET    /admin/status                   hosts with id, online, in_session (JSON)
//   POST   /admin/hosts/<id>/offer         body: text → message 12
//   POST   /admin/hosts/<id>/brand         body: "code|name" → message 16
//   POST   /admin/hosts/<id>/permanent     body: "token|company" → stored, message 14
//   DELETE /admin/hosts/<id>/permanent     revokes every permanent access, message 14 "0"
THttpReply AdminReply(TRelayRegistry& ARegistry, TRelayStore& AStore, std::string_view AMethod,
                      std::string_view APath, std::string_view ABody);

}  // namespace halvora::relay
