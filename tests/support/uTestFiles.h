#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace halvora::test {

// A fresh temporary folder, removed with its contents when the object goes.
class TTempFolder {
 public:
  TTempFolder();
  ~TTempFolder();
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;

  // The UTF-8 path of ARelative inside the folder.
  std::string Path(std::string_view ARelative) const;

 private:
  std::filesystem::path FRoot;
};

// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::string& APath);
// Writes AText to APath as it is, creating the missing folders.
void WriteFile(const std::string& APath, std::string_view AText);
// The names in a folder, sorted.
std::vector<std::string> FolderEntries(const std::string& APath);

}  // namespace halvora::test
