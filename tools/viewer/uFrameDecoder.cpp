#include "uFrameDecoder.h"

#include <turbojpeg.h>

#include <stdexcept>

namespace halvora::viewer {

namespace {

constexpr std::size_t cHeaderBytes = 7;
constexpr std::size_t cTileHeaderBytes = 12;

std::string TileName(std::size_t AIndex) {
  return "tile " + std::to_string(AIndex);
}

}  // namespace

TFrameDecoder::TFrameDecoder() : FHandle(tjInitDecompress()) {
  if (!FHandle) throw std::runtime_error("TurboJPEG indisponível");
}

TFrameDecoder::~TFrameDecoder() {
  tjDestroy(FHandle);
}

TFrameResult TFrameDecoder::Apply(TCanvasSet& ACanvases, const TBytes& APayload) {
  TFrameResult Result;
  if (APayload.size() < cHeaderBytes) {
    Result.Error = "frame truncado: cabeçalho incompleto";
    return Result;
  }
  Result.Monitor = APayload[0];
  Result.Width = GetU16(&APayload[1]);
  Result.Height = GetU16(&APayload[3]);
  Result.Tiles = GetU16(&APayload[5]);
  std::vector<TTile> Tiles;
  Result.Error = CheckStructure(APayload, Result, Tiles);
  if (ACanvases.Count() >= 0 && Result.Monitor >= ACanvases.Count() && Result.Error.empty())
    Result.Error = "monitor " + std::to_string(Result.Monitor) + " fora dos " +
                   std::to_string(ACanvases.Count()) + " anunciados";
  if (!Result.Error.empty()) return Result;

  TCanvas& Canvas = ACanvases.Canvas(Result.Monitor);
  if (Canvas.Width() != Result.Width || Canvas.Height() != Result.Height)
    Canvas.Reset(Result.Width, Result.Height);
  for (std::size_t I = 0; I < Tiles.size(); ++I) {
    const std::string Fault = DecodeTile(Tiles[I]);
    if (Fault.empty())
      Canvas.Paste(Tiles[I].X, Tiles[I].Y, Tiles[I].Width, Tiles[I].Height, FRgb.data());
    else if (Result.Error.empty())
      Result.Error = TileName(I) + ": " + Fault;
  }
  Result.Ok = Result.Error.empty();
  return Result;
}

std::string TFrameDecoder::CheckStructure(const TBytes& APayload, const TFrameResult& AHeader,
                                          std::vector<TTile>& ATiles) const {
  if (AHeader.Width == 0 || AHeader.Height == 0) return "tela de tamanho zero";
  if (AHeader.Tiles == 0) return "frame sem tiles";
  std::size_t Pos = cHeaderBytes;
  for (int I = 0; I < AHeader.Tiles; ++I) {
    if (APayload.size() - Pos < cTileHeaderBytes) return "frame truncado no " + TileName(I);
    const std::uint8_t* Record = &APayload[Pos];
    TTile Tile{GetU16(Record), GetU16(Record + 2), GetU16(Record + 4), GetU16(Record + 6),
               nullptr,        GetU32(Record + 8)};
    Pos += cTileHeaderBytes;
    if (APayload.size() - Pos < Tile.Length) return "frame truncado no JPEG do " + TileName(I);
    if (Tile.Width == 0 || Tile.Height == 0 || Tile.X + Tile.Width > AHeader.Width ||
        Tile.Y + Tile.Height > AHeader.Height)
      return TileName(I) + " fora da tela";
    Tile.Jpeg = APayload.data() + Pos;
    Pos += Tile.Length;
    ATiles.push_back(Tile);
  }
  if (Pos != APayload.size())
    return std::to_string(APayload.size() - Pos) + " bytes sobrando após o último tile";
  return {};
}

std::string TFrameDecoder::DecodeTile(const TTile& ATile) {
  std::string Fault = TryDecode(ATile);
  if (!Fault.empty()) {
    // A failed decompression can leave the handle in a state that misreads the next
    // image, so every failure gets a fresh one.
    tjDestroy(FHandle);
    FHandle = tjInitDecompress();
    if (!FHandle) throw std::runtime_error("TurboJPEG indisponível");
  }
  return Fault;
}

std::string TFrameDecoder::TryDecode(const TTile& ATile) {
  int Width = 0, Height = 0, Subsampling = 0, Colorspace = 0;
  if (tjDecompressHeader3(FHandle, ATile.Jpeg, static_cast<unsigned long>(ATile.Length), &Width,
                          &Height, &Subsampling, &Colorspace) != 0)
    return std::string("JPEG inválido: ") + tjGetErrorStr2(FHandle);
  if (Width != ATile.Width || Height != ATile.Height)
    return "JPEG de " + std::to_string(Width) + "x" + std::to_string(Height) + " num tile de " +
           std::to_string(ATile.Width) + "x" + std::to_string(ATile.Height);
  FRgb.resize(static_cast<std::size_t>(Width) * Height * 3);
  // Any warning (a truncated or damaged stream) counts as a failure too.
  if (tjDecompress2(FHandle, ATile.Jpeg, static_cast<unsigned long>(ATile.Length), FRgb.data(),
                    Width, 0, Height, TJPF_RGB, 0) != 0)
    return std::string("JPEG inválido: ") + tjGetErrorStr2(FHandle);
  return {};
}

}  // namespace halvora::viewer
