// The shared transport and relay client cases over the WinHTTP transport, which runs in the
// Windows build's probe program under Wine.
#include "protocol/uTransportUnderTest.h"
#include "protocol/wine/uWineTransport.h"

namespace halvora::test {
namespace {

class TWineKind final : public ITransportKind {
 public:
  std::shared_ptr<ITransportFactory> Factory(const std::string& ACaPem) const override {
    return std::make_shared<TWineTransportFactory>(ACaPem);
  }
  // Wine's certificate check takes no certificate issued for an IP address.
  bool AddressCertificates() const override { return false; }
  // Wine's TLS lost its session ("GnuTLS error: Error in the pull function") in 2 of 40
  // runs of the relay client's concurrent senders over wss.
  bool BusyTlsBothWays() const override { return false; }
};

}  // namespace

const ITransportKind& TransportUnderTest() {
  static const TWineKind Kind;
  return Kind;
}

}  // namespace halvora::test
