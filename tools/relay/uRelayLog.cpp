#include "relay/uRelayLog.h"

#include <atomic>
#include <iostream>
#include <mutex>

namespace halvora::relay {

namespace {
std::atomic<bool> GQuiet{false};
std::mutex GLock;
}  // namespace

void Log(std::string_view ALine) {
  if (GQuiet.load()) return;
  std::lock_guard Guard(GLock);
  std::cerr << "halvora-relay: " << ALine << '\n';
}

void SetLogQuiet(bool AQuiet) {
  GQuiet.store(AQuiet);
}

}  // namespace halvora::relay
