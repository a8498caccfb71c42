#include "capture/uJpegEncoder.h"

#include <turbojpeg.h>

#include "capture/uScreenGrabber.h"

namespace halvora {

namespace {

// libjpeg's default for colour images: chroma halved in both directions.
constexpr int Subsampling = TJSAMP_420;

}  // namespace

TJpegEncoder::TJpegEncoder() : FHandle(tjInitCompress()) {
  if (!FHandle) throw EScreenCapture("Falha ao iniciar o codificador JPEG");
}

TJpegEncoder::~TJpegEncoder() {
  tjFree(FBuffer);
  tjDestroy(FHandle);
}

std::span<const std::uint8_t> TJpegEncoder::Encode(const std::uint8_t* ABits, std::size_t APitch,
                                                   int AWidth, int AHeight, int AQuality) {
  // The largest JPEG the tile can give, so the encoder never has to grow the buffer.
  const unsigned long Needed = tjBufSize(AWidth, AHeight, Subsampling);
  if (Needed > FCapacity) {
    tjFree(FBuffer);
    FCapacity = 0;
    FBuffer = tjAlloc(static_cast<int>(Needed));
    if (!FBuffer) throw EScreenCapture("Falha ao codificar a imagem JPEG");
    FCapacity = Needed;
  }
  unsigned long Size = FCapacity;
  if (tjCompress2(FHandle, ABits, AWidth, static_cast<int>(APitch), AHeight, TJPF_BGRX, &FBuffer,
                  &Size, Subsampling, AQuality, TJFLAG_NOREALLOC) != 0)
    throw EScreenCapture("Falha ao codificar a imagem JPEG");
  return {FBuffer, Size};
}

}  // namespace halvora
