#pragma once

#include <string>
#include <string_view>

namespace halvora {

// Replaces the file at APath by AContent. The content goes to a new file in the same folder,
// is flushed to disk and is then renamed over APath, so APath holds either its old content
// or all of the new one. An existing file's permissions are kept; a new file is readable and
// writable by its owner only, as settings may hold secrets. Throws std::runtime_error whose
// text names APath and the system's error; no temporary file is left behind.
void ReplaceFile(const std::string& APath, std::string_view AContent);

}  // namespace halvora
