#include "uFrameDecoder.h"

#include <turbojpeg.h>

#include <stdexcept>

namespace halvora::viewer {

namespace {

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
  if (const auto Header = TFrameHeader::Decode(APayload)) {
    Result.Monitor = Header->Monitor;
    Result.Width = Header->Width;
    Result.Height = Header->Height;
    Result.Tiles = Header->TileCount;
  }
  const auto Frame = TFrameMessage::Decode(APayload, &Result.Error);
  if (Frame && ACanvases.Count() >= 0 && Result.Monitor >= ACanvases.Count())
    Result.Error = "monitor " + std::to_string(Result.Monitor) + " fora dos " +
                   std::to_string(ACanvases.Count()) + " anunciados";
  if (!Result.Error.empty()) return Result;

  TCanvas& Canvas = ACanvases.Canvas(Result.Monitor);
  if (Canvas.Width() != Result.Width || Canvas.Height() != Result.Height)
    Canvas.Reset(Result.Width, Result.Height);
  for (std::size_t I = 0; I < Frame->Tiles.size(); ++I) {
    const TFrameTile& Tile = Frame->Tiles[I];
    const std::string Fault = DecodeTile(Tile);
    if (Fault.empty())
      Canvas.Paste(Tile.X, Tile.Y, Tile.Width, Tile.Height, FRgb.data());
    else if (Result.Error.empty())
      Result.Error = TileName(I) + ": " + Fault;
  }
  Result.Ok = Result.Error.empty();
  return Result;
}

std::string TFrameDecoder::DecodeTile(const TFrameTile& ATile) {
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

std::string TFrameDecoder::TryDecode(const TFrameTile& ATile) {
  int Width = 0, Height = 0, Subsampling = 0, Colorspace = 0;
  if (tjDecompressHeader3(FHandle, ATile.Jpeg.data(), static_cast<unsigned long>(ATile.Jpeg.size()),
                          &Width, &Height, &Subsampling, &Colorspace) != 0)
    return std::string("JPEG inválido: ") + tjGetErrorStr2(FHandle);
  if (Width != ATile.Width || Height != ATile.Height)
    return "JPEG de " + std::to_string(Width) + "x" + std::to_string(Height) + " num tile de " +
           std::to_string(ATile.Width) + "x" + std::to_string(ATile.Height);
  FRgb.resize(static_cast<std::size_t>(Width) * Height * 3);
  // Any warning (a truncated or damaged stream) counts as a failure too.
  if (tjDecompress2(FHandle, ATile.Jpeg.data(), static_cast<unsigned long>(ATile.Jpeg.size()),
                    FRgb.data(), Width, 0, Height, TJPF_RGB, 0) != 0)
    return std::string("JPEG inválido: ") + tjGetErrorStr2(FHandle);
  return {};
}

}  // namespace halvora::viewer
