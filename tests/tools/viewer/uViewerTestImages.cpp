#include "uViewerTestImages.h"

#include <png.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace halvora::viewer::test {

TBytes EncodeJpeg(int AWidth, int AHeight, TRgb AColour) {
  std::vector<std::uint8_t> Pixels;
  for (int I = 0; I < AWidth * AHeight; ++I)
    Pixels.insert(Pixels.end(), AColour.begin(), AColour.end());
  tjhandle Handle = tjInitCompress();
  unsigned char* Jpeg = nullptr;
  unsigned long Size = 0;
  const int Result = tjCompress2(Handle, Pixels.data(), AWidth, 0, AHeight, TJPF_RGB, &Jpeg, &Size,
                                 TJSAMP_444, 95, 0);
  TBytes Bytes(Jpeg, Jpeg + Size);
  tjFree(Jpeg);
  tjDestroy(Handle);
  if (Result != 0) throw std::runtime_error("tjCompress2 failed");
  return Bytes;
}

TBytes MakeFrame(int AMonitor, int AWidth, int AHeight, const std::vector<TTestTile>& ATiles) {
  TFrameMessage Frame{static_cast<std::uint8_t>(AMonitor),
                      static_cast<std::uint16_t>(AWidth),
                      static_cast<std::uint16_t>(AHeight),
                      {}};
  for (const auto& Tile : ATiles)
    Frame.Tiles.push_back({static_cast<std::uint16_t>(Tile.X), static_cast<std::uint16_t>(Tile.Y),
                           static_cast<std::uint16_t>(Tile.Width),
                           static_cast<std::uint16_t>(Tile.Height), Tile.Jpeg});
  return Frame.Encode();
}

TTestTile SolidTile(int AX, int AY, int AWidth, int AHeight, TRgb AColour) {
  return {AX, AY, AWidth, AHeight, EncodeJpeg(AWidth, AHeight, AColour)};
}

bool ReadPng(const std::string& AFile, int& AWidth, int& AHeight, std::vector<std::uint8_t>& ARgb) {
  png_image Image;
  std::memset(&Image, 0, sizeof Image);
  Image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&Image, AFile.c_str())) return false;
  Image.format = PNG_FORMAT_RGB;
  ARgb.resize(PNG_IMAGE_SIZE(Image));
  if (!png_image_finish_read(&Image, nullptr, ARgb.data(), 0, nullptr)) return false;
  AWidth = static_cast<int>(Image.width);
  AHeight = static_cast<int>(Image.height);
  return true;
}

bool Near(TRgb AActual, TRgb AExpected) {
  for (int I = 0; I < 3; ++I)
    if (std::abs(int(AActual[I]) - int(AExpected[I])) > 10) return false;
  return true;
}

}  // namespace halvora::viewer::test
