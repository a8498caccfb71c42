// The shared transport and relay client cases over the Beast transport.
#include "protocol/beast/uBeastTransport.h"
#include "protocol/uTransportUnderTest.h"

namespace halvora::test {
namespace {

class TBeastKind final : public ITransportKind {
 public:
  std::shared_ptr<ITransportFactory> Factory(const std::string& ACaPem) const override {
    return std::make_shared<TBeastTransportFactory>(TBeastOptions{ACaPem, false});
  }
  bool AddressCertificates() const override { return true; }
  bool BusyTlsBothWays() const override { return true; }
};

}  // namespace

const ITransportKind& TransportUnderTest() {
  static const TBeastKind Kind;
  return Kind;
}

}  // namespace halvora::test
