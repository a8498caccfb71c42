#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace halvora::relay {

// Message numbers the relay reads or writes. A message is one WebSocket message: the number
// byte followed by the payload.
enum TCommand : std::uint8_t {
  cmdHello = 1,
  cmdWelcome = 2,
  cmdAccessRequest = 5,
  cmdSessionEnded = 6,
  cmdEnd = 7,
  cmdKeepAlive = 8,
  cmdRelayNoop = 9,
  cmdRefused = 10,
  cmdProofAccepted = 11,
  cmdInstallOffer = 12,
  cmdRevokePermanent = 13,
  cmdPermanentCount = 14,
  cmdTrustedAccess = 15,
  cmdBrand = 16,
  cmdConnectHost = 50,
  cmdConnectResult = 51,
  cmdRelayError = 52,
  cmdSessionFirst = 100,  // session messages: this number and all above
  cmdChallenge = 100,
  cmdProof = 101,
  cmdAccessResult = 102,
};

// Largest message accepted: the number byte plus 16 MiB of payload.
inline constexpr std::size_t MaxMessageSize = 16 * 1024 * 1024 + 1;
// Largest message read from a connection that has no use for large ones yet: before a host's
// hello is accepted and before a technician is admitted. A hello, a request for a host and a
// proof are far smaller.
inline constexpr std::size_t MaxGreetingSize = 4096;

std::string MakeMessage(std::uint8_t ACmd, std::string_view APayload);

// Field text cut at the first two "|": the third field keeps any further separators and
// missing fields are empty.
struct TFields {
  std::string First, Second, Third;
};
TFields SplitFields(std::string_view AText);

// AText without spaces, tabs and line breaks anywhere in it.
std::string RemoveBlanks(std::string_view AText);

// AText without blanks and control characters at both ends.
std::string Trim(std::string_view AText);

}  // namespace halvora::relay
