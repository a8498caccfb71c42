#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "base/uBytes.h"

namespace halvora {

// Message catalogue: the first byte of every message; the payload follows it. Numbers from
// cmdSessionFirst up are session messages, which the relay carries between host and technician.
inline constexpr std::uint8_t cmdHello = 1;             // →relay: HelloCliente or HelloAtendente
inline constexpr std::uint8_t cmdWelcome = 2;           // relay→: the host's ID (empty to a technician)
inline constexpr std::uint8_t cmdAccessRequest = 5;     // relay→host: peer ID|name|qualifier asks for access
inline constexpr std::uint8_t cmdSessionEnded = 6;      // relay→: the other side ended the session
inline constexpr std::uint8_t cmdHostEnd = 7;           // host or technician→relay: ends the session
inline constexpr std::uint8_t cmdKeepAlive = 8;         // host→relay: keep-alive, empty
inline constexpr std::uint8_t cmdRelayNoop = 9;         // relay→host: no-op, ignored
inline constexpr std::uint8_t cmdRefused = 10;          // relay→host: registration refused; 2nd field is shown
inline constexpr std::uint8_t cmdProofAccepted = 11;    // host→relay: the password proof was right
inline constexpr std::uint8_t cmdInstallOffer = 12;     // relay→host: text offering installation
inline constexpr std::uint8_t cmdRevokePermanent = 13;  // host→relay: revoke every permanent access
inline constexpr std::uint8_t cmdPermanentCount = 14;   // relay→host: companies with permanent access
inline constexpr std::uint8_t cmdTrustedAccess = 15;    // relay→host: permanent access, no password
inline constexpr std::uint8_t cmdBrand = 16;            // relay→host: brand code|brand name
inline constexpr std::uint8_t cmdConnectHost = 50;      // technician→relay: host ID|name|qualifier
inline constexpr std::uint8_t cmdConnectResult = 51;    // relay→technician: code|text|mode
inline constexpr std::uint8_t cmdRelayError = 52;       // relay→technician: what was wrong
inline constexpr std::uint8_t cmdSessionFirst = 100;
inline constexpr std::uint8_t cmdChallenge = 100;       // host→viewer: 32 hex digits to prove over
inline constexpr std::uint8_t cmdProof = 101;           // viewer→host: ProofHash(challenge, password)
inline constexpr std::uint8_t cmdAccessResult = 102;    // host→viewer: 1 admitted, 0 refused
inline constexpr std::uint8_t cmdFrame = 103;           // host→viewer: a screen frame
inline constexpr std::uint8_t cmdFrameAck = 104;        // viewer→host: a frame was received
inline constexpr std::uint8_t cmdMouse = 105;           // viewer→host: mouse event (TMousePacket)
inline constexpr std::uint8_t cmdKey = 106;             // viewer→host: key event (TKeyPacket)
inline constexpr std::uint8_t cmdMonitorInfo = 107;     // host→viewer: the host's monitors
inline constexpr std::uint8_t cmdSelectMonitor = 108;   // viewer→host: the monitor to show
inline constexpr std::uint8_t cmdBlockInput = 109;      // viewer→host: block or free local input
inline constexpr std::uint8_t cmdBlockState = 110;      // host→viewer: is local input blocked
inline constexpr std::uint8_t cmdClipText = 111;        // both ways: clipboard text
inline constexpr std::uint8_t cmdClipFilesBegin = 112;  // both ways: start of a file transfer
inline constexpr std::uint8_t cmdClipFileEntry = 113;   // both ways: one file or folder entry
inline constexpr std::uint8_t cmdClipFileData = 114;    // both ways: a chunk of file data
inline constexpr std::uint8_t cmdClipFilesEnd = 115;    // both ways: end of a file transfer
inline constexpr std::uint8_t cmdSecureAttention = 116;  // viewer→host: secure attention sequence

// Sends one message; false when it could not be sent.
using TSendPacketFunc = std::function<bool(std::uint8_t ACmd, const TIdBytes& APayload)>;

// Largest message: the command byte and a 16 MiB payload.
inline constexpr std::size_t MaxMessageSize = 16777217;

// Separates the fields of a text payload.
inline constexpr char FieldSeparator = '|';

// The OS random generator failed; what() carries the system's error text.
class ERandomFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Up to three fields of a text payload (see SplitFields).
struct TFields {
  std::string First, Second, Third;
};

// The UTF-8 bytes of AText.
TIdBytes TextToBytes(std::string_view AText);
// ABytes as UTF-8 text; malformed sequences become U+FFFD.
std::string BytesToText(const TIdBytes& ABytes);
// A copy of ACount bytes at ABuffer (which may be null when ACount is 0).
TIdBytes MakeBytes(const void* ABuffer, std::size_t ACount);
TIdBytes SingleByte(std::uint8_t AValue);

// Login text of a host: "2|C|<id>|<key>".
std::string HelloCliente(std::string_view AId, std::string_view AKey);
// Login text of a viewer: "2|A|<token>".
std::string HelloAtendente(std::string_view AToken);

// Splits at the first two separators; the third field keeps any further ones. No trimming.
TFields SplitFields(std::string_view AText);

// A 9-unit (UTF-16) ID as three groups of three ("123 456 789"); any other length unchanged.
std::string FormatId(std::string_view AId);

// ACount characters (UTF-16 units) of AAlphabet, each picked by a 32-bit value from the OS
// cryptographic generator; empty when ACount <= 0. Throws ERandomFailure if the generator
// fails and std::invalid_argument for an empty alphabet.
std::string RandomString(std::string_view AAlphabet, int ACount);

// SHA-256 of AFirst + ":" + ASecond as 64 lower-case hex digits.
std::string ProofHash(std::string_view AFirst, std::string_view ASecond);

// Wire records are copied to and from payloads byte for byte.
static_assert(std::endian::native == std::endian::little, "wire records are little-endian");

#pragma pack(push, 1)

// Payload of cmdMouse.
struct TMousePacket {
  std::uint8_t Monitor;
  std::uint16_t X;      // 0 leftmost … 65535 rightmost
  std::uint16_t Y;      // 0 top … 65535 bottom
  std::uint8_t Action;  // 0 move, 1/2 left down/up, 3/4 right, 5/6 middle, 7 wheel; else move
  std::int16_t Wheel;   // wheel delta, used with action 7
};

// Payload of cmdKey.
struct TKeyPacket {
  std::uint16_t VKey;  // Windows virtual-key code
  std::uint8_t Down;   // 0 released, other pressed
};

#pragma pack(pop)

static_assert(sizeof(TMousePacket) == 8);
static_assert(offsetof(TMousePacket, Monitor) == 0);
static_assert(offsetof(TMousePacket, X) == 1);
static_assert(offsetof(TMousePacket, Y) == 3);
static_assert(offsetof(TMousePacket, Action) == 5);
static_assert(offsetof(TMousePacket, Wheel) == 6);

static_assert(sizeof(TKeyPacket) == 3);
static_assert(offsetof(TKeyPacket, VKey) == 0);
static_assert(offsetof(TKeyPacket, Down) == 2);

}  // namespace halvora
