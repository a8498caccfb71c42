#pragma once

#include <string>
#include <vector>

namespace halvora::test {

struct TTestPki {
  std::string CaCertPem, ServerCertPem, ServerKeyPem;
};

// A fresh CA (self-signed) and a server certificate signed by it for the given DNS names and
// IP addresses (subjectAltName), valid from an hour ago for a day; all in memory (EC P-256).
// Every call makes an unrelated CA. Throws std::runtime_error when OpenSSL fails.
TTestPki MakeTestPki(const std::vector<std::string>& ADnsNames,
                     const std::vector<std::string>& AIpAddresses);

}  // namespace halvora::test
