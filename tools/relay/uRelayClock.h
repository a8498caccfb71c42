#pragma once

#include <chrono>

namespace halvora::relay {

using TRelayTime = std::chrono::steady_clock::time_point;

// Where the relay's deadlines and rate limits read the time; tests move a clock of their own.
class IRelayClock {
 public:
  virtual ~IRelayClock() = default;
  virtual TRelayTime Now() const = 0;
};

// The monotonic clock of the system.
const IRelayClock& SteadyRelayClock();

}  // namespace halvora::relay
