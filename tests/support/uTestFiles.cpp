#include "support/uTestFiles.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>

namespace halvora::test {

namespace fs = std::filesystem;

namespace {

fs::path PathOf(std::string_view AUtf8) {
  return fs::path(std::u8string(AUtf8.begin(), AUtf8.end()));
}

std::string Utf8(const fs::path& APath) {
  const std::u8string Text = APath.u8string();
  return std::string(Text.begin(), Text.end());
}

}  // namespace

TTempFolder::TTempFolder() {
  std::random_device Random;
  do {
    FRoot = fs::temp_directory_path() / ("halvora-host-test-" + std::to_string(Random()));
  } while (!fs::create_directory(FRoot));
}

TTempFolder::~TTempFolder() {
  std::error_code Ignored;
  fs::remove_all(FRoot, Ignored);
}

std::string TTempFolder::Path(std::string_view ARelative) const {
  return Utf8(FRoot / PathOf(ARelative));
}

std::string ReadFile(const std::string& APath) {
  std::ifstream File(PathOf(APath), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& APath, std::string_view AText) {
  fs::create_directories(PathOf(APath).parent_path());
  std::ofstream(PathOf(APath), std::ios::binary) << AText;
}

std::vector<std::string> FolderEntries(const std::string& APath) {
  std::vector<std::string> Names;
  for (const fs::directory_entry& Entry : fs::directory_iterator(PathOf(APath)))
    Names.push_back(Utf8(Entry.path().filename()));
  std::ranges::sort(Names);
  return Names;
}

}  // namespace halvora::test
