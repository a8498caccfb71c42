#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace halvora::viewer {

// The picture of one host monitor: RGB, 3 bytes per pixel, rows top-down, black when reset.
class TCanvas {
 public:
  void Reset(int AWidth, int AHeight);
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  // Copies an RGB block of AWidth × AHeight pixels to (AX, AY); the caller keeps it inside.
  void Paste(int AX, int AY, int AWidth, int AHeight, const std::uint8_t* ARgb);
  std::array<std::uint8_t, 3> Pixel(int AX, int AY) const;
  // Writes the canvas as an RGB PNG file; false with AError on failure.
  bool WritePng(const std::filesystem::path& AFile, std::string& AError) const;

 private:
  int FWidth = 0, FHeight = 0;
  std::vector<std::uint8_t> FRgb;
};

// One canvas per monitor index, as announced by the host's monitor information.
class TCanvasSet {
 public:
  // The host has ACount monitors and shows ASelected; canvases beyond the count are dropped.
  void SetMonitors(int ACount, int ASelected);
  int Count() const { return FCount; }  // -1 until announced
  int Selected() const { return FSelected; }
  TCanvas& Canvas(int AIndex) { return FCanvases[AIndex]; }
  const TCanvas* Find(int AIndex) const;
  // Writes monitor-<index>.png into AFolder for every canvas that has a picture.
  bool WriteAll(const std::filesystem::path& AFolder, std::string& AError) const;

 private:
  int FCount = -1, FSelected = -1;
  std::map<int, TCanvas> FCanvases;
};

}  // namespace halvora::viewer
