#pragma once

#include <string>
#include <string_view>

#include "relay/uRelayReply.h"

namespace halvora::relay {

class TRelayRegistry;
class TRelayStore;

// The admin endpoint (the caller admits loopback peers only):
//   GET    /admin/status                   hosts with id, online, in_session (JSON)
//   POST   /admin/hosts/<id>/offer         body: text → message 12
//   POST   /admin/hosts/<id>/brand         body: "code|name" → message 16
//   POST   /admin/hosts/<id>/permanent     body: "token|company" → stored, message 14
//   DELETE /admin/hosts/<id>/permanent     revokes every permanent access, message 14 "0"
THttpReply AdminReply(TRelayRegistry& ARegistry, TRelayStore& AStore, std::string_view AMethod,
                      std::string_view APath, const std::string& ABody);

}  // namespace halvora::relay
