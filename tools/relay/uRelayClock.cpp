#include "relay/uRelayClock.h"

namespace halvora::relay {

namespace {

class TSteadyClock final : public IRelayClock {
 public:
  TRelayTime Now() const override { return std::chrono::steady_clock::now(); }
};

}  // namespace

const IRelayClock& SteadyRelayClock() {
  static const TSteadyClock Value;
  return Value;
}

}  // namespace halvora::relay
