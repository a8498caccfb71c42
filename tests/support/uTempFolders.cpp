#include "support/uTempFolders.h"

#include <atomic>
#include <chrono>

namespace halvora::test {

TTempFolders::TTempFolders() {
  static std::atomic<unsigned> Counter{0};
  const auto Stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  FRoot = std::filesystem::temp_directory_path() /
          ("halvora-test-" + std::to_string(Stamp) + "-" + std::to_string(++Counter));
  std::filesystem::create_directories(FRoot);
}

TTempFolders::~TTempFolders() {
  std::error_code Ignored;
  std::filesystem::remove_all(FRoot, Ignored);
}

std::string TTempFolders::KnownFolderPath(TKnownFolder AFolder) const {
  const char* Name = "";
  switch (AFolder) {
    case TKnownFolder::kfCommonAppData: Name = "common"; break;
    case TKnownFolder::kfProgramFiles: Name = "programs"; break;
    case TKnownFolder::kfWindows: Name = "system"; break;
    case TKnownFolder::kfUserAppData: Name = "user"; break;
  }
  return (FRoot / Name).string() + "/";
}

}  // namespace halvora::test
