#include "uCaptureTestSupport.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace halvora::test {

namespace {

std::uint32_t GetLe(const TIdBytes& ABytes, std::size_t AAt, int ACount) {
  std::uint32_t Value = 0;
  for (int I = ACount - 1; I >= 0; --I) Value = Value << 8 | ABytes.at(AAt + I);
  return Value;
}

}  // namespace

TTestScreen::TTestScreen(int AWidth, int AHeight)
    : FWidth(AWidth), FHeight(AHeight), FPixels(static_cast<std::size_t>(AWidth) * AHeight * 4) {
  for (int Y = 0; Y < AHeight; ++Y)
    for (int X = 0; X < AWidth; ++X) {
      std::uint8_t* P = Pixel(X, Y);
      // A soft, muted background ...
      const int Blue = X * 255 / AWidth, Green = Y * 255 / AHeight;
      const int Red = static_cast<int>(128 + 100 * std::sin(X * 0.01 + Y * 0.02));
      const int Grey = (Blue + Green + Red) / 3;
      P[0] = static_cast<std::uint8_t>((Blue + Grey) / 2);
      P[1] = static_cast<std::uint8_t>((Green + Grey) / 2);
      P[2] = static_cast<std::uint8_t>((Red + Grey) / 2);
      P[3] = 0;
      // ... under flat light boxes with hard edges, like windows.
      if ((X / 150 + Y / 90) % 5 == 0 && X % 150 > 20 && Y % 90 > 15) P[0] = P[1] = P[2] = 230;
    }
}

TGrabBuffer TFakeGrabber::Alloc(int AWidth, int AHeight) {
  ++FAllocs;
  if (FFailAlloc) return {};
  FWidth = AWidth;
  FHeight = AHeight;
  FPitch = static_cast<std::size_t>(AWidth) * 4 + FPadding;
  FBuffer.assign(FPitch * AHeight, 0xA5);
  FFresh = true;
  return {FBuffer.data(), FPitch};
}

bool TFakeGrabber::Grab(TPoint AOrigin, TDamageRegion& ADamage) {
  if (FClaimUnchanged) return false;
  ADamage = FDamage;
  if (std::exchange(FFresh, false)) ADamage.SetEverything();
  // Only what lies on the screen is copied; the rest keeps its pixels.
  const int X0 = std::max(0, -AOrigin.X);
  const int X1 = std::min(FWidth, FScreen.Width() - AOrigin.X);
  for (int Y = std::max(0, -AOrigin.Y); Y < std::min(FHeight, FScreen.Height() - AOrigin.Y); ++Y)
    if (X0 < X1)
      std::memcpy(&FBuffer[Y * FPitch + X0 * 4], FScreen.Pixel(AOrigin.X + X0, AOrigin.Y + Y),
                  static_cast<std::size_t>(X1 - X0) * 4);
  return true;
}

std::vector<TRect> TDecodedFrame::Rects() const {
  std::vector<TRect> Result;
  for (const TDecodedTile& Tile : Tiles) Result.push_back(Tile.Rect);
  return Result;
}

TDecodedFrame DecodeFrame(const TIdBytes& APayload) {
  TDecodedFrame Frame;
  Frame.Monitor = static_cast<int>(GetLe(APayload, 0, 1));
  Frame.Width = static_cast<int>(GetLe(APayload, 1, 2));
  Frame.Height = static_cast<int>(GetLe(APayload, 3, 2));
  const std::uint32_t Count = GetLe(APayload, 5, 2);
  tjhandle Decoder = tjInitDecompress();
  std::size_t At = 7;
  try {
    for (std::uint32_t I = 0; I < Count; ++I) {
      TDecodedTile Tile;
      const int X = static_cast<int>(GetLe(APayload, At, 2));
      const int Y = static_cast<int>(GetLe(APayload, At + 2, 2));
      Tile.Rect = {X, Y, X + static_cast<int>(GetLe(APayload, At + 4, 2)),
                   Y + static_cast<int>(GetLe(APayload, At + 6, 2))};
      Tile.JpegBytes = GetLe(APayload, At + 8, 4);
      At += 12;
      if (Tile.Rect.Right > Frame.Width || Tile.Rect.Bottom > Frame.Height ||
          Tile.Rect.Right == X || Tile.Rect.Bottom == Y)
        throw std::runtime_error("tile outside the area");
      if (APayload.size() - At < Tile.JpegBytes) throw std::runtime_error("JPEG cut short");
      int Width = 0, Height = 0, Subsampling = 0, Colorspace = 0;
      const unsigned char* Jpeg = APayload.data() + At;
      if (tjDecompressHeader3(Decoder, Jpeg, Tile.JpegBytes, &Width, &Height, &Subsampling,
                              &Colorspace) != 0 ||
          Width != Tile.Rect.Right - X || Height != Tile.Rect.Bottom - Y)
        throw std::runtime_error("JPEG header does not match the tile");
      Tile.Bgrx.resize(static_cast<std::size_t>(Width) * Height * 4);
      if (tjDecompress2(Decoder, Jpeg, Tile.JpegBytes, Tile.Bgrx.data(), Width, 0, Height,
                        TJPF_BGRX, 0) != 0)
        throw std::runtime_error("JPEG does not decode");
      At += Tile.JpegBytes;
      Frame.Tiles.push_back(std::move(Tile));
    }
    if (At != APayload.size()) throw std::runtime_error("bytes after the last tile");
  } catch (...) {
    tjDestroy(Decoder);
    throw;
  }
  tjDestroy(Decoder);
  return Frame;
}

double TilePsnr(const TDecodedTile& ATile, const TTestScreen& AScreen, TPoint AOrigin) {
  const int Width = ATile.Rect.Right - ATile.Rect.Left;
  const int Height = ATile.Rect.Bottom - ATile.Rect.Top;
  double Sum = 0;
  for (int Y = 0; Y < Height; ++Y)
    for (int X = 0; X < Width; ++X) {
      const std::uint8_t* Got = &ATile.Bgrx[(static_cast<std::size_t>(Y) * Width + X) * 4];
      const std::uint8_t* Want =
          AScreen.Pixel(AOrigin.X + ATile.Rect.Left + X, AOrigin.Y + ATile.Rect.Top + Y);
      for (int C = 0; C < 3; ++C) Sum += (Got[C] - Want[C]) * (Got[C] - Want[C]);
    }
  const double Mse = Sum / (3.0 * Width * Height);
  return Mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / Mse);
}

}  // namespace halvora::test
