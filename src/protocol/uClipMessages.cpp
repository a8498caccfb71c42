#include "protocol/uClipMessages.h"

#include <algorithm>

#include "protocol/uMessages.h"

namespace halvora {

namespace {

constexpr std::size_t BeginBytes = 16;
constexpr std::size_t EntryHeaderBytes = 13;
constexpr std::size_t IdBytes = 4;
constexpr std::size_t EndBytes = 5;

std::uint32_t IdOf(std::span<const std::uint8_t> APayload) {
  return static_cast<std::uint32_t>(GetLe(APayload.data(), 4));
}

}  // namespace

TIdBytes TClipFilesBeginMessage::Encode() const {
  TIdBytes Payload;
  Payload.reserve(BeginBytes);
  AppendLe(Payload, Id, 4);
  AppendLe(Payload, Count, 4);
  AppendLe(Payload, Total, 8);
  return Payload;
}

std::optional<TClipFilesBeginMessage> TClipFilesBeginMessage::Decode(
    std::span<const std::uint8_t> APayload, std::string* AFault) {
  const auto Refuse = [AFault](const char* AText) -> std::optional<TClipFilesBeginMessage> {
    if (AFault) *AFault = AText;
    return std::nullopt;
  };
  if (APayload.size() != BeginBytes) return Refuse("cabeçalho de transferência inválido");
  const TClipFilesBeginMessage Begin{
      IdOf(APayload), static_cast<std::uint32_t>(GetLe(&APayload[4], 4)), GetLe(&APayload[8], 8)};
  if (Begin.Count > ClipTransferMaxEntries || Begin.Total > ClipTransferMaxBytes)
    return Refuse("transferência passa dos limites");
  return Begin;
}

TIdBytes TClipFileEntryMessage::Encode() const {
  TIdBytes Payload;
  Payload.reserve(EntryHeaderBytes + RelName.size());
  AppendLe(Payload, Id, 4);
  AppendLe(Payload, static_cast<std::uint64_t>(Size), 8);
  Payload.push_back(IsDir ? 1 : 0);
  Payload.insert(Payload.end(), RelName.begin(), RelName.end());
  return Payload;
}

std::optional<TClipFileEntryMessage> TClipFileEntryMessage::Decode(
    std::span<const std::uint8_t> APayload) {
  if (APayload.size() <= EntryHeaderBytes) return std::nullopt;
  return TClipFileEntryMessage{IdOf(APayload), static_cast<std::int64_t>(GetLe(&APayload[4], 8)),
                               APayload[12] != 0, PayloadText(APayload.subspan(EntryHeaderBytes))};
}

TIdBytes TClipFileDataMessage::Encode() const {
  TIdBytes Payload;
  Payload.reserve(IdBytes + Data.size());
  AppendLe(Payload, Id, 4);
  Payload.insert(Payload.end(), Data.begin(), Data.end());
  return Payload;
}

std::optional<TClipFileDataMessage> TClipFileDataMessage::Decode(
    std::span<const std::uint8_t> APayload) {
  if (APayload.size() <= IdBytes) return std::nullopt;
  return TClipFileDataMessage{IdOf(APayload), APayload.subspan(IdBytes)};
}

bool TClipFileDataMessage::operator==(const TClipFileDataMessage& AOther) const {
  return Id == AOther.Id && std::ranges::equal(Data, AOther.Data);
}

TIdBytes TClipFilesEndMessage::Encode() const {
  TIdBytes Payload;
  Payload.reserve(EndBytes);
  AppendLe(Payload, Id, 4);
  Payload.push_back(Ok ? 1 : 0);
  return Payload;
}

std::optional<TClipFilesEndMessage> TClipFilesEndMessage::Decode(
    std::span<const std::uint8_t> APayload) {
  if (APayload.size() != EndBytes) return std::nullopt;
  return TClipFilesEndMessage{IdOf(APayload), APayload[4] != 0};
}

}  // namespace halvora
