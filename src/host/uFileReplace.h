#pragma once

#include <string>
#include <string_view>

namespace halvora {

// The permissions ReplaceFile gives the file: those of the file it replaces (a new file is
// readable and writable by its owner only), or owner only in any case.
enum class TReplaceMode { rmKeepMode, rmOwnerOnly };

// Replaces the file at APath by AContent. The content goes to a new file in the same folder,
// is flushed to disk and is then renamed over APath, so APath holds either its old content
// or all of the new one. Its permissions follow AMode. Throws std::runtime_error whose text
// names APath and the system's error; no temporary file is left behind.
void ReplaceFile(const std::string& APath, std::string_view AContent,
                 TReplaceMode AMode = TReplaceMode::rmKeepMode);

}  // namespace halvora
