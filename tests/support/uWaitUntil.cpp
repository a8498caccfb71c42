#include "support/uWaitUntil.h"

#include <thread>

namespace halvora::test {

bool WaitUntil(const std::function<bool()>& ACondition, std::chrono::milliseconds ATimeout) {
  const auto Deadline = std::chrono::steady_clock::now() + ATimeout;
  while (!ACondition()) {
    if (std::chrono::steady_clock::now() >= Deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace halvora::test
