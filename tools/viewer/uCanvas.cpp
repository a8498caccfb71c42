#include "uCanvas.h"

#include <png.h>

#include <algorithm>
#include <cstring>

namespace halvora::viewer {

void TCanvas::Reset(int AWidth, int AHeight) {
  FWidth = AWidth;
  FHeight = AHeight;
  FRgb.assign(static_cast<std::size_t>(AWidth) * AHeight * 3, 0);
}

void TCanvas::Paste(int AX, int AY, int AWidth, int AHeight, const std::uint8_t* ARgb) {
  const std::size_t RowBytes = static_cast<std::size_t>(AWidth) * 3;
  for (int Row = 0; Row < AHeight; ++Row) {
    const std::size_t Offset = (static_cast<std::size_t>(AY + Row) * FWidth + AX) * 3;
    std::memcpy(FRgb.data() + Offset, ARgb + Row * RowBytes, RowBytes);
  }
}

std::array<std::uint8_t, 3> TCanvas::Pixel(int AX, int AY) const {
  const std::size_t Offset = (static_cast<std::size_t>(AY) * FWidth + AX) * 3;
  return {FRgb[Offset], FRgb[Offset + 1], FRgb[Offset + 2]};
}

bool TCanvas::WritePng(const std::filesystem::path& AFile, std::string& AError) const {
  png_image Image;
  std::memset(&Image, 0, sizeof Image);
  Image.version = PNG_IMAGE_VERSION;
  Image.width = static_cast<png_uint_32>(FWidth);
  Image.height = static_cast<png_uint_32>(FHeight);
  Image.format = PNG_FORMAT_RGB;
  const bool Written =
      png_image_write_to_file(&Image, AFile.c_str(), 0, FRgb.data(), 0, nullptr) != 0;
  if (!Written) AError = "não foi possível gravar " + AFile.string() + ": " + Image.message;
  png_image_free(&Image);
  return Written;
}

void TCanvasSet::SetMonitors(int ACount, int ASelected) {
  FCount = ACount;
  FSelected = ASelected;
  std::erase_if(FCanvases, [ACount](const auto& AEntry) { return AEntry.first >= ACount; });
}

const TCanvas* TCanvasSet::Find(int AIndex) const {
  const auto Found = FCanvases.find(AIndex);
  return Found == FCanvases.end() ? nullptr : &Found->second;
}

bool TCanvasSet::WriteAll(const std::filesystem::path& AFolder, std::string& AError) const {
  bool Ok = true;
  for (const auto& [Index, Canvas] : FCanvases) {
    if (Canvas.Width() <= 0) continue;
    const auto File = AFolder / ("monitor-" + std::to_string(Index) + ".png");
    Ok = Canvas.WritePng(File, AError) && Ok;
  }
  return Ok;
}

}  // namespace halvora::viewer
