#include "base/uClock.h"

#include <chrono>

namespace halvora {
namespace {

class TSystemClock final : public IClock {
 public:
  std::uint32_t GetTickCount() override {
    const auto Now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Now).count());
  }

  bool WaitFor(TEvent& AEvent, std::uint32_t AMilliseconds) override {
    if (AMilliseconds == InfiniteWait) return AEvent.WaitWhileNot([] { return false; });
    return AEvent.WaitReal(AMilliseconds);
  }
};

}  // namespace

IClock& SystemClock() {
  static TSystemClock Clock;
  return Clock;
}

}  // namespace halvora
