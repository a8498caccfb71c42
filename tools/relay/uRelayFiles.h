#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "relay/uRelayReply.h"

namespace halvora::relay {

// 1 to 64 characters of A-Z, a-z, 0-9, "_" and "-".
bool IsBrandCode(std::string_view ACode);

// GET /v1/marca/<code>: {"nome": ..., "tem_logo": ...} from AFolder/<code>/nome.txt;
// with ALogo, GET /v1/marca/<code>/logo: AFolder/<code>/logo.png. 404 for anything unknown and
// for files that links lead out of AFolder.
THttpReply BrandReply(const std::string& AFolder, std::string_view ACode, bool ALogo);

// The file below AFolder named by a request path (percent escapes decoded, "/" and paths that
// end in "/" give index.html). 404 for paths that leave the folder or name no regular file.
THttpReply StaticReply(const std::string& AFolder, std::string_view APath);

// APath ("/a/b.html", still escaped) as a path relative to a served folder, or nothing when
// it is malformed or could leave the folder: "..", backslashes, NUL, ":" or an absolute path.
std::optional<std::string> SafeRelativePath(std::string_view APath);

}  // namespace halvora::relay
