#pragma once

#include <cstdint>

#include "base/uEvent.h"

namespace halvora {

// Wait that never times out.
inline constexpr std::uint32_t InfiniteWait = 0xFFFFFFFFu;

// The 32-bit millisecond tick count and timed waits. Differences of tick counts are taken
// as unsigned 32-bit values, so the counter may wrap.
class IClock {
 public:
  virtual ~IClock() = default;
  virtual std::uint32_t GetTickCount() = 0;
  // Waits until AEvent is set (true) or AMilliseconds have passed on this clock (false).
  virtual bool WaitFor(TEvent& AEvent, std::uint32_t AMilliseconds) = 0;
};

// The process-wide real clock.
IClock& SystemClock();

}  // namespace halvora
