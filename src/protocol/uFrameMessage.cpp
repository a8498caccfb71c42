#include "protocol/uFrameMessage.h"

#include <algorithm>

namespace halvora {

namespace {

std::optional<TFrameMessage> Refuse(std::string* AFault, std::string AText) {
  if (AFault) *AFault = std::move(AText);
  return std::nullopt;
}

std::string TileName(std::size_t AIndex) {
  return "tile " + std::to_string(AIndex);
}

}  // namespace

std::optional<TFrameHeader> TFrameHeader::Decode(std::span<const std::uint8_t> APayload) {
  if (APayload.size() < FrameHeaderBytes) return std::nullopt;
  return TFrameHeader{APayload[0], static_cast<std::uint16_t>(GetLe(&APayload[1], 2)),
                      static_cast<std::uint16_t>(GetLe(&APayload[3], 2)),
                      static_cast<std::uint16_t>(GetLe(&APayload[5], 2))};
}

bool TFrameTile::operator==(const TFrameTile& AOther) const {
  return X == AOther.X && Y == AOther.Y && Width == AOther.Width && Height == AOther.Height &&
         std::ranges::equal(Jpeg, AOther.Jpeg);
}

TIdBytes TFrameMessage::Encode() const {
  TIdBytes Payload;
  AppendFrameHeader(Payload, {Monitor, Width, Height, static_cast<std::uint16_t>(Tiles.size())});
  for (const TFrameTile& Tile : Tiles) AppendFrameTile(Payload, Tile);
  return Payload;
}

std::optional<TFrameMessage> TFrameMessage::Decode(std::span<const std::uint8_t> APayload,
                                                   std::string* AFault) {
  const std::optional<TFrameHeader> Header = TFrameHeader::Decode(APayload);
  if (!Header) return Refuse(AFault, "frame truncado: cabeçalho incompleto");
  if (Header->Width == 0 || Header->Height == 0) return Refuse(AFault, "tela de tamanho zero");
  if (Header->TileCount == 0) return Refuse(AFault, "frame sem tiles");
  TFrameMessage Frame{Header->Monitor, Header->Width, Header->Height, {}};
  Frame.Tiles.reserve(Header->TileCount);
  std::size_t Pos = FrameHeaderBytes;
  for (std::size_t I = 0; I < Header->TileCount; ++I) {
    if (APayload.size() - Pos < FrameTileHeaderBytes)
      return Refuse(AFault, "frame truncado no " + TileName(I));
    const std::uint8_t* Record = &APayload[Pos];
    TFrameTile Tile{static_cast<std::uint16_t>(GetLe(Record, 2)),
                    static_cast<std::uint16_t>(GetLe(Record + 2, 2)),
                    static_cast<std::uint16_t>(GetLe(Record + 4, 2)),
                    static_cast<std::uint16_t>(GetLe(Record + 6, 2)),
                    {}};
    const std::uint64_t Length = GetLe(Record + 8, 4);
    Pos += FrameTileHeaderBytes;
    if (APayload.size() - Pos < Length)
      return Refuse(AFault, "frame truncado no JPEG do " + TileName(I));
    if (Tile.Width == 0 || Tile.Height == 0 || Tile.X + Tile.Width > Header->Width ||
        Tile.Y + Tile.Height > Header->Height)
      return Refuse(AFault, TileName(I) + " fora da tela");
    Tile.Jpeg = APayload.subspan(Pos, static_cast<std::size_t>(Length));
    Pos += static_cast<std::size_t>(Length);
    Frame.Tiles.push_back(Tile);
  }
  if (Pos != APayload.size())
    return Refuse(AFault,
                  std::to_string(APayload.size() - Pos) + " bytes sobrando após o último tile");
  return Frame;
}

}  // namespace halvora
