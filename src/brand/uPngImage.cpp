#include "brand/uPngImage.h"

#include <png.h>

#include <vector>

namespace halvora {

std::optional<TPngSize> PngSize(const TIdBytes& APng) {
  if (APng.empty() || APng.size() > MaxPngBytes) return std::nullopt;
  png_image Image{};
  Image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&Image, APng.data(), APng.size())) return std::nullopt;
  const TPngSize Size{Image.width, Image.height};
  if (Size.Width == 0 || Size.Height == 0 || Size.Width > MaxPngSide || Size.Height > MaxPngSide) {
    png_image_free(&Image);
    return std::nullopt;
  }
  // Decoding every row is what proves the image whole; one grey byte per pixel keeps the
  // buffer small (transparent pixels compose onto the zeroed buffer).
  Image.format = PNG_FORMAT_GRAY;
  std::vector<png_byte> Pixels(PNG_IMAGE_SIZE(Image));
  const bool Decoded = png_image_finish_read(&Image, nullptr, Pixels.data(), 0, nullptr) != 0;
  png_image_free(&Image);
  if (!Decoded) return std::nullopt;
  return Size;
}

}  // namespace halvora
