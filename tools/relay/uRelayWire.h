#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/uMessages.h"

namespace halvora::relay {

// A message is one WebSocket message: the number byte (the catalogue of protocol/uProtocol.h)
// followed by the payload, whose layout the typed messages of protocol/uMessages.h know.

// Largest message read from a connection that has no use for large ones yet: before a host's
// hello is accepted and before a technician is admitted. A hello, a request for a host and a
// proof are far smaller.
inline constexpr std::size_t MaxGreetingSize = 4096;

std::string MakeMessage(std::uint8_t ACmd, std::string_view APayload);

// The payload of a typed message, as the relay carries payloads.
template <class TMessage>
std::string PayloadOf(const TMessage& AMessage) {
  const TIdBytes Payload = AMessage.Encode();
  return std::string(Payload.begin(), Payload.end());
}

// AText without spaces, tabs and line breaks anywhere in it.
std::string RemoveBlanks(std::string_view AText);

// AText without blanks and control characters at both ends.
std::string Trim(std::string_view AText);

}  // namespace halvora::relay
