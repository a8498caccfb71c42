#pragma once

#include <string>

namespace halvora::relay::test {

struct TTestCertificate {
  std::string CertPem, KeyPem;
};

// A fresh self-signed certificate for 127.0.0.1 and localhost (EC P-256, valid for a day).
TTestCertificate MakeTestCertificate();

}  // namespace halvora::relay::test
