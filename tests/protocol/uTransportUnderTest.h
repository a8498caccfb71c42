#pragma once

#include <memory>
#include <string>

#include "protocol/uTransport.h"

namespace halvora::test {

// A transport implementation as the shared suites (uTransportCases.cpp and
// uConnectionLinkTest.cpp) see it.
class ITransportKind {
 public:
  virtual ~ITransportKind() = default;
  // A factory whose transports trust the certificates ACaPem issued, besides none or the
  // system's own.
  virtual std::shared_ptr<ITransportFactory> Factory(const std::string& ACaPem) const = 0;
  // Whether wss reaches a server by its IP address, with a certificate issued for it.
  virtual bool AddressCertificates() const = 0;
  // Whether over wss many sends may meet many receives (Wine's TLS breaks its session now and
  // then when they do).
  virtual bool BusyTlsBothWays() const = 0;
};

// The transport the shared suites test: each test program that links them defines it.
const ITransportKind& TransportUnderTest();

}  // namespace halvora::test
