#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/uBytes.h"
#include "protocol/uProtocol.h"

namespace halvora {

// A clipboard file transfer: one 112, then for each entry one 113 and, for a file, as many
// 114 as its data needs, then one 115. Integers little-endian; every message carries the
// transfer's id first. Clipboard text (111) is a text message (uMessages).

// Limits of one transfer, on the sending and on the receiving side.
inline constexpr std::uint32_t ClipTransferMaxEntries = 5000;     // files and folders
inline constexpr std::uint64_t ClipTransferMaxBytes = 209715200;  // file data, 200 MiB
inline constexpr std::size_t ClipDataChunkBytes = 65536;          // data per message 114

// 112, exactly 16 bytes: id 4, count 4, total 8.
struct TClipFilesBeginMessage {
  static constexpr std::uint8_t Cmd = cmdClipFilesBegin;
  std::uint32_t Id = 0;
  std::uint32_t Count = 0;  // entries that follow
  std::uint64_t Total = 0;  // bytes of all files
  TIdBytes Encode() const;
  // Refused, with the reason in AFault when given: another length, or more entries or bytes
  // than a transfer may hold.
  static std::optional<TClipFilesBeginMessage> Decode(std::span<const std::uint8_t> APayload,
                                                      std::string* AFault = nullptr);
  bool operator==(const TClipFilesBeginMessage&) const = default;
};

// 113, at least 14 bytes: id 4, size 8 (signed), is-folder 1 (0 a file, else a folder), then
// the relative name as UTF-8, at least one byte: the top-level name, then each nested
// folder's name and the entry's own, joined with "\".
struct TClipFileEntryMessage {
  static constexpr std::uint8_t Cmd = cmdClipFileEntry;
  std::uint32_t Id = 0;
  std::int64_t Size = 0;  // a file's size when the list was made; 0 for a folder
  bool IsDir = false;
  std::string RelName;
  TIdBytes Encode() const;
  static std::optional<TClipFileEntryMessage> Decode(std::span<const std::uint8_t> APayload);
  bool operator==(const TClipFileEntryMessage&) const = default;
};

// 114, at least 5 bytes: id 4, then the next piece of the file's data.
struct TClipFileDataMessage {
  static constexpr std::uint8_t Cmd = cmdClipFileData;
  std::uint32_t Id = 0;
  std::span<const std::uint8_t> Data;  // not owned: the caller's, or the decoded payload's
  TIdBytes Encode() const;
  static std::optional<TClipFileDataMessage> Decode(std::span<const std::uint8_t> APayload);
  bool operator==(const TClipFileDataMessage& AOther) const;
};

// 115, exactly 5 bytes: id 4, then 1 when every entry was sent, 0 when the transfer was cut
// short (any other value counts as 1).
struct TClipFilesEndMessage {
  static constexpr std::uint8_t Cmd = cmdClipFilesEnd;
  std::uint32_t Id = 0;
  bool Ok = false;
  TIdBytes Encode() const;
  static std::optional<TClipFilesEndMessage> Decode(std::span<const std::uint8_t> APayload);
  bool operator==(const TClipFilesEndMessage&) const = default;
};

}  // namespace halvora
