#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace halvora {

// A UTF-8 path as a path object; going through char8_t keeps it UTF-8 where the native
// encoding differs.
inline std::filesystem::path PathOf(const std::string& AUtf8) {
  return std::filesystem::path(std::u8string(AUtf8.begin(), AUtf8.end()));
}

// The permissions ReplaceFile gives the file: those of the file it replaces (a new file is
// readable and writable by its owner only), owner only in any case, or readable by everyone
// and writable by its owner in any case.
enum class TReplaceMode { rmKeepMode, rmOwnerOnly, rmPublicRead };

// Replaces the file at APath by AContent. The content goes to a new file in the same folder,
// is flushed to disk and is then renamed over APath, so APath holds either its old content
// or all of the new one. Its permissions follow AMode. Throws std::runtime_error whose text
// names APath and the system's error; no temporary file is left behind.
void ReplaceFile(const std::string& APath, std::string_view AContent,
                 TReplaceMode AMode = TReplaceMode::rmKeepMode);

}  // namespace halvora
