#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/uBytes.h"
#include "protocol/uProtocol.h"

namespace halvora {

// Typed payloads of the message catalogue. Every message type names its number (Cmd), writes
// its payload (Encode) and reads one (Decode). Decode never throws and never reads past the
// end: a payload that breaks the layout or its bounds gives an empty optional. Texts are read
// as UTF-8, malformed sequences becoming U+FFFD (BytesToText); a message that is text or field
// text alone (2, 5, 6, 10, 12, 14 to 16, 50, 52, 101, 111) is never refused, and neither is an
// empty or ignored one.

using TPayloadView = std::span<const std::uint8_t>;

// The bytes of a text or of a std::string payload.
inline TPayloadView PayloadView(std::string_view AText) {
  return {reinterpret_cast<const std::uint8_t*>(AText.data()), AText.size()};
}

// A payload as UTF-8 text.
std::string PayloadText(TPayloadView APayload);

// Payload empty when sent, ignored when received: 7, 8, 9, 11, 13, 104, 116.
template <std::uint8_t ACmd>
struct TEmptyMessage {
  static constexpr std::uint8_t Cmd = ACmd;
  TIdBytes Encode() const { return {}; }
  static std::optional<TEmptyMessage> Decode(TPayloadView) { return TEmptyMessage{}; }
  bool operator==(const TEmptyMessage&) const = default;
};

using THostEndMessage = TEmptyMessage<cmdHostEnd>;
using TKeepAliveMessage = TEmptyMessage<cmdKeepAlive>;
using TRelayNoopMessage = TEmptyMessage<cmdRelayNoop>;
using TProofAcceptedMessage = TEmptyMessage<cmdProofAccepted>;
using TRevokePermanentMessage = TEmptyMessage<cmdRevokePermanent>;
using TFrameAckMessage = TEmptyMessage<cmdFrameAck>;
using TSecureAttentionMessage = TEmptyMessage<cmdSecureAttention>;

// The whole payload is one text: 2, 6, 12, 52, 101, 111.
template <std::uint8_t ACmd>
struct TTextMessage {
  static constexpr std::uint8_t Cmd = ACmd;
  std::string Text;
  TIdBytes Encode() const { return TextToBytes(Text); }
  static std::optional<TTextMessage> Decode(TPayloadView APayload) {
    return TTextMessage{PayloadText(APayload)};
  }
  bool operator==(const TTextMessage&) const = default;
};

using TWelcomeMessage = TTextMessage<cmdWelcome>;  // the host's ID (empty to a technician)
using TSessionEndedMessage = TTextMessage<cmdSessionEnded>;  // why, to a technician
using TInstallOfferMessage = TTextMessage<cmdInstallOffer>;
using TRelayErrorMessage = TTextMessage<cmdRelayError>;
using TProofMessage = TTextMessage<cmdProof>;  // ProofHash(challenge, password), compared as is
using TClipTextMessage = TTextMessage<cmdClipText>;

enum class THelloRole { hrHost, hrTechnician };

// 1: "2|C|<id>|<key>" from a host, "2|A|<token>" from a technician. Fields are not escaped.
struct THelloMessage {
  static constexpr std::uint8_t Cmd = cmdHello;
  THelloRole Role = THelloRole::hrHost;
  std::string Id, Key;  // a host's
  std::string Token;    // a technician's; may be empty
  static THelloMessage Host(std::string AId, std::string AKey);
  static THelloMessage Technician(std::string AToken);
  TIdBytes Encode() const;
  // Refused: another version than 2, another role, a host's hello without the key separator.
  static std::optional<THelloMessage> Decode(TPayloadView APayload);
  bool operator==(const THelloMessage&) const = default;
};

// 5 and 15: who asks for access, as the relay passes it on. The qualifier keeps any further
// separators.
struct TPeerRequest {
  std::string PeerId, Name, Qualifier;
  bool operator==(const TPeerRequest&) const = default;
};

template <std::uint8_t ACmd>
struct TPeerMessage : TPeerRequest {
  static constexpr std::uint8_t Cmd = ACmd;
  TIdBytes Encode() const;
  static std::optional<TPeerMessage> Decode(TPayloadView APayload);
  bool operator==(const TPeerMessage&) const = default;
};

using TAccessRequestMessage = TPeerMessage<cmdAccessRequest>;
using TTrustedAccessMessage = TPeerMessage<cmdTrustedAccess>;

// 10: the relay refuses a hello or a registration; Text is for the user.
struct TRefusedMessage {
  static constexpr std::uint8_t Cmd = cmdRefused;
  std::string Kind, Text, Detail;
  TIdBytes Encode() const;
  static std::optional<TRefusedMessage> Decode(TPayloadView APayload);
  bool operator==(const TRefusedMessage&) const = default;
};

// 14: companies with permanent access, as decimal text; text that does not parse counts as 0.
struct TPermanentCountMessage {
  static constexpr std::uint8_t Cmd = cmdPermanentCount;
  int Count = 0;
  TIdBytes Encode() const;
  static std::optional<TPermanentCountMessage> Decode(TPayloadView APayload);
  bool operator==(const TPermanentCountMessage&) const = default;
};

// 16: "<code>|<name>"; a third field is ignored.
struct TBrandMessage {
  static constexpr std::uint8_t Cmd = cmdBrand;
  std::string Code, Name;
  TIdBytes Encode() const;
  static std::optional<TBrandMessage> Decode(TPayloadView APayload);
  bool operator==(const TBrandMessage&) const = default;
};

// 50: a technician asks for a host: "<host id>|<display name>|<qualifier>".
struct TConnectHostMessage {
  static constexpr std::uint8_t Cmd = cmdConnectHost;
  std::string HostId, Name, Qualifier;
  TIdBytes Encode() const;
  static std::optional<TConnectHostMessage> Decode(TPayloadView APayload);
  bool operator==(const TConnectHostMessage&) const = default;
};

// 51: "<code>|<text>|<mode>"; code 0 paired, mode "senha" or "permanente". Refused when the
// code is not a decimal number.
struct TConnectResultMessage {
  static constexpr std::uint8_t Cmd = cmdConnectResult;
  int Code = 0;
  std::string Text, Mode;
  TIdBytes Encode() const;
  static std::optional<TConnectResultMessage> Decode(TPayloadView APayload);
  bool operator==(const TConnectResultMessage&) const = default;
};

// 100: the nonce, exactly 32 lower-case hexadecimal digits.
struct TChallengeMessage {
  static constexpr std::uint8_t Cmd = cmdChallenge;
  static constexpr std::size_t NonceDigits = 32;
  std::string Nonce;
  TIdBytes Encode() const;
  static std::optional<TChallengeMessage> Decode(TPayloadView APayload);
  bool operator==(const TChallengeMessage&) const = default;
};

// A flag byte, exactly one byte of 0 or 1: 102 (admitted) and 110 (local input blocked).
template <std::uint8_t ACmd>
struct TFlagMessage {
  static constexpr std::uint8_t Cmd = ACmd;
  bool Value = false;
  TIdBytes Encode() const { return SingleByte(Value ? 1 : 0); }
  static std::optional<TFlagMessage> Decode(TPayloadView APayload) {
    if (APayload.size() != 1 || APayload[0] > 1) return std::nullopt;
    return TFlagMessage{APayload[0] == 1};
  }
  bool operator==(const TFlagMessage&) const = default;
};

using TAccessResultMessage = TFlagMessage<cmdAccessResult>;
using TBlockStateMessage = TFlagMessage<cmdBlockState>;

// 105: TMousePacket, exactly 8 bytes.
struct TMouseMessage {
  static constexpr std::uint8_t Cmd = cmdMouse;
  TMousePacket Packet{};
  TIdBytes Encode() const;
  static std::optional<TMouseMessage> Decode(TPayloadView APayload);
  bool operator==(const TMouseMessage& AOther) const {
    return std::memcmp(&Packet, &AOther.Packet, sizeof Packet) == 0;
  }
};

// 106: TKeyPacket, exactly 3 bytes.
struct TKeyMessage {
  static constexpr std::uint8_t Cmd = cmdKey;
  TKeyPacket Packet{};
  TIdBytes Encode() const;
  static std::optional<TKeyMessage> Decode(TPayloadView APayload);
  bool operator==(const TKeyMessage& AOther) const {
    return std::memcmp(&Packet, &AOther.Packet, sizeof Packet) == 0;
  }
};

// Monitors a capture loop announces at most.
inline constexpr int MaxWireMonitors = 8;

// 107: two bytes, the number of monitors (1 to 8) and the selected one (below the number).
struct TMonitorInfoMessage {
  static constexpr std::uint8_t Cmd = cmdMonitorInfo;
  std::uint8_t Count = 1, Selected = 0;
  TIdBytes Encode() const;
  static std::optional<TMonitorInfoMessage> Decode(TPayloadView APayload);
  bool operator==(const TMonitorInfoMessage&) const = default;
};

// 108: exactly one byte, the monitor to stream.
struct TSelectMonitorMessage {
  static constexpr std::uint8_t Cmd = cmdSelectMonitor;
  std::uint8_t Monitor = 0;
  TIdBytes Encode() const;
  static std::optional<TSelectMonitorMessage> Decode(TPayloadView APayload);
  bool operator==(const TSelectMonitorMessage&) const = default;
};

// 109: exactly one byte; 1 blocks, any other value frees.
struct TBlockInputMessage {
  static constexpr std::uint8_t Cmd = cmdBlockInput;
  bool Block = false;
  TIdBytes Encode() const;
  static std::optional<TBlockInputMessage> Decode(TPayloadView APayload);
  bool operator==(const TBlockInputMessage&) const = default;
};

// Whether ACmd is a session message, carried between host and technician.
inline constexpr bool IsSessionMessage(std::uint8_t ACmd) {
  return ACmd >= cmdSessionFirst;
}

}  // namespace halvora
