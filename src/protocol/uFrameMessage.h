#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/uBytes.h"
#include "protocol/uProtocol.h"

namespace halvora {

// Message 103, one screen update of one monitor. Integers little-endian, no gaps:
//   header (7 bytes): monitor 1, width 2, height 2, tile count 2;
//   each tile (12 bytes + L): x 2, y 2, width 2, height 2, L 4, then L bytes of JPEG.
// Tile positions are relative to the monitor's top-left corner.

inline constexpr std::size_t FrameHeaderBytes = 7;
inline constexpr std::size_t FrameTileHeaderBytes = 12;

struct TFrameHeader {
  std::uint8_t Monitor = 0;
  std::uint16_t Width = 0, Height = 0, TileCount = 0;
  // Only the 7 header bytes are read; empty when fewer arrived.
  static std::optional<TFrameHeader> Decode(std::span<const std::uint8_t> APayload);
  bool operator==(const TFrameHeader&) const = default;
};

struct TFrameTile {
  std::uint16_t X = 0, Y = 0, Width = 0, Height = 0;
  std::span<const std::uint8_t> Jpeg;  // not owned: the caller's, or the decoded payload's
  bool operator==(const TFrameTile& AOther) const;
};

// Writing a frame in place, tile by tile, as the capturer produces them (header-only, so that
// the capture needs no more than this header).
inline void AppendFrameHeader(TIdBytes& APayload, const TFrameHeader& AHeader) {
  APayload.push_back(AHeader.Monitor);
  AppendLe(APayload, AHeader.Width, 2);
  AppendLe(APayload, AHeader.Height, 2);
  AppendLe(APayload, AHeader.TileCount, 2);
}

inline void AppendFrameTile(TIdBytes& APayload, const TFrameTile& ATile) {
  AppendLe(APayload, ATile.X, 2);
  AppendLe(APayload, ATile.Y, 2);
  AppendLe(APayload, ATile.Width, 2);
  AppendLe(APayload, ATile.Height, 2);
  AppendLe(APayload, ATile.Jpeg.size(), 4);
  APayload.insert(APayload.end(), ATile.Jpeg.begin(), ATile.Jpeg.end());
}

struct TFrameMessage {
  static constexpr std::uint8_t Cmd = cmdFrame;
  std::uint8_t Monitor = 0;
  std::uint16_t Width = 0, Height = 0;
  std::vector<TFrameTile> Tiles;  // their Jpeg views point into the decoded payload

  TIdBytes Encode() const;
  // Refused, with the reason in AFault when given: a header cut short, a zero width or height,
  // no tiles, a tile record or its JPEG cut short, an empty tile or one that leaves the
  // announced area, bytes after the last tile.
  static std::optional<TFrameMessage> Decode(std::span<const std::uint8_t> APayload,
                                             std::string* AFault = nullptr);
  bool operator==(const TFrameMessage&) const = default;
};

}  // namespace halvora
