#pragma once

#include <chrono>
#include <functional>

namespace halvora::test {

// Polls ACondition every 5 ms until it holds (true) or ATimeout of real time has passed
// (false): for what other threads, servers or processes do, which a test can only watch.
// The time-out is a guard against hangs, not a measure.
bool WaitUntil(const std::function<bool()>& ACondition,
               std::chrono::milliseconds ATimeout = std::chrono::seconds(20));

}  // namespace halvora::test
