#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace halvora {

// Baseline colour JPEG encoding of BGRX pixels, straight from the caller's buffer. One
// encoder keeps its TurboJPEG handle and output buffer from call to call.
class TJpegEncoder {
 public:
  TJpegEncoder();
  ~TJpegEncoder();
  TJpegEncoder(const TJpegEncoder&) = delete;
  TJpegEncoder& operator=(const TJpegEncoder&) = delete;

  // Encodes the AWidth × AHeight pixels at ABits (rows APitch bytes apart) at AQuality
  // (1 to 100). The bytes stay valid until the next call. Throws EScreenCapture on failure.
  std::span<const std::uint8_t> Encode(const std::uint8_t* ABits, std::size_t APitch, int AWidth,
                                       int AHeight, int AQuality);

 private:
  void* FHandle;
  unsigned char* FBuffer = nullptr;
  unsigned long FCapacity = 0;
};

}  // namespace halvora
