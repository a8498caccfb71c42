#pragma once

#include <string>
#include <string_view>

namespace halvora {

// The brand code carried by a program file name ("halvora-<code>", 6 to 12 characters of
// 0-9 and a-z, any letter case), lower-cased; empty when the name carries none.
std::string CodigoMarcaDoArquivo(std::string_view AFileName);

// The brand service's base URL on the host of the relay URL AServerUrl: the scheme becomes
// http for ws and http, https otherwise, and the path is dropped. Without a scheme, https is
// put in front of the value as it is.
std::string UrlApiDoServidor(std::string_view AServerUrl);

}  // namespace halvora
