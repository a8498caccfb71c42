#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "uWire.h"

namespace halvora::viewer {

using TClock = std::chrono::steady_clock;

// A readable summary of a received message: its text, flag, monitor information, frame
// header or transfer fields; the first bytes in hexadecimal for anything else.
std::string Summarize(std::uint8_t ACmd, const TBytes& APayload);

// received.log: one line per received message with the milliseconds since the start, the
// message number, the payload length, the summary and an optional note (an error found).
class TViewerLog {
 public:
  explicit TViewerLog(TClock::time_point AStart) : FStart(AStart) {}
  bool Open(const std::filesystem::path& AFile, std::string& AError);
  void Record(std::uint8_t ACmd, const TBytes& APayload, std::string_view ANote = {});

 private:
  TClock::time_point FStart;
  std::ofstream FOut;
};

}  // namespace halvora::viewer
