#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "uWire.h"

namespace halvora::viewer::test {

using TRgb = std::array<std::uint8_t, 3>;

// A JPEG file of AWidth × AHeight pixels in one colour.
TBytes EncodeJpeg(int AWidth, int AHeight, TRgb AColour);

struct TTestTile {
  int X, Y, Width, Height;
  TBytes Jpeg;
};

// A frame payload: header (monitor, size, tile count) and the tile records.
TBytes MakeFrame(int AMonitor, int AWidth, int AHeight, const std::vector<TTestTile>& ATiles);

// A solid tile at (AX, AY) with its JPEG.
TTestTile SolidTile(int AX, int AY, int AWidth, int AHeight, TRgb AColour);

// The RGB pixels of a PNG file; false when it cannot be read.
bool ReadPng(const std::string& AFile, int& AWidth, int& AHeight, std::vector<std::uint8_t>& ARgb);

// Colours equal up to JPEG's rounding.
bool Near(TRgb AActual, TRgb AExpected);

}  // namespace halvora::viewer::test
