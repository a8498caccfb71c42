#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace halvora::viewer {

// Messages between the technician and the relay itself; the session messages that the relay
// carries to and from the host are numbered from 100.
inline constexpr std::uint8_t cmdConnectHost = 50;    // "<host id>|<name>|<qualifier>"
inline constexpr std::uint8_t cmdConnectResult = 51;  // "<code>|<text>|<mode>", code 0 paired
inline constexpr std::uint8_t cmdRelayError = 52;     // text

// A message payload: the bytes after the command byte.
using TBytes = std::vector<std::uint8_t>;

// Little-endian integers, appended to or read from payloads.
void PutU16(TBytes& AOut, std::uint16_t AValue);
void PutU32(TBytes& AOut, std::uint32_t AValue);
void PutU64(TBytes& AOut, std::uint64_t AValue);
std::uint16_t GetU16(const std::uint8_t* AData);
std::uint32_t GetU32(const std::uint8_t* AData);
std::uint64_t GetU64(const std::uint8_t* AData);

TBytes TextBytes(std::string_view AText);
// The bytes from AFrom to the end as text (UTF-8 is passed through unchecked).
std::string BytesText(const TBytes& ABytes, std::size_t AFrom = 0);

}  // namespace halvora::viewer
