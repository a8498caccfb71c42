#include "relay/uRelayAccessGuard.h"

#include <algorithm>
#include <cmath>

namespace halvora::relay {

namespace {

using namespace std::chrono_literals;
using std::chrono::duration_cast;
using std::chrono::milliseconds;
using std::chrono::seconds;

// One connection may ask for a host this often; a viewer asks once per connection.
constexpr unsigned RequestsPerConnection = 10;
// Failed pairings of one address: the first is free (a mistyped password), then 10 s, 20 s...
constexpr TBackoffRule AddressRule{1, 10s, 300s, 900s};
// Failed pairings with one host, from wherever: gentler, since they also keep out the host's
// rightful technician; a technician with permanent access is never held back by them.
constexpr TBackoffRule HostRule{2, 5s, 60s, 900s};

seconds RoundUp(milliseconds AWait) {
  return AWait.count() <= 0 ? 0s : duration_cast<seconds>(AWait + 999ms);
}

template <class TMap>
void EraseIf(TMap& AMap, const auto& APredicate) {
  for (auto It = AMap.begin(); It != AMap.end();)
    It = APredicate(It->second) ? AMap.erase(It) : ++It;
}

}  // namespace

double TTokenBucket::Level(TRelayTime ANow, unsigned ACount, seconds APeriod) const {
  if (!FUsed) return ACount;
  const double Elapsed = std::chrono::duration<double>(ANow - FLast).count();
  return std::min<double>(ACount, FTokens + std::max(0.0, Elapsed) * ACount / APeriod.count());
}

milliseconds TTokenBucket::Take(TRelayTime ANow, unsigned ACount, seconds APeriod) {
  const double Tokens = Level(ANow, ACount, APeriod);
  if (Tokens < 1) {
    const double Missing = (1 - Tokens) * APeriod.count() / ACount;
    return milliseconds(static_cast<long long>(std::ceil(Missing * 1000)));
  }
  FUsed = true;
  FTokens = Tokens - 1;
  FLast = ANow;
  return 0ms;
}

bool TTokenBucket::Full(TRelayTime ANow, unsigned ACount, seconds APeriod) const {
  return Level(ANow, ACount, APeriod) >= ACount;
}

void TBackoff::Fail(TRelayTime ANow, const TBackoffRule& ARule) {
  if (Idle(ANow, ARule)) FFailures = 0;
  ++FFailures;
  FLastFailure = ANow;
  if (FFailures <= ARule.Free) return;
  const unsigned Doublings = std::min(FFailures - ARule.Free - 1, 16u);
  FBlockedUntil = ANow + std::min<seconds>(ARule.First * (1u << Doublings), ARule.Longest);
}

milliseconds TBackoff::Remaining(TRelayTime ANow) const {
  return std::max(0ms, duration_cast<milliseconds>(FBlockedUntil - ANow));
}

bool TBackoff::Idle(TRelayTime ANow, const TBackoffRule& ARule) const {
  return FFailures == 0 || ANow - FLastFailure > ARule.Forget;
}

seconds TAccessGuard::RequestWait(TTokenBucket& AConnection, const std::string& AAddress) {
  const TRelayTime Now = FClock.Now();
  if (const auto Wait = AConnection.Take(Now, RequestsPerConnection, 60s); Wait.count())
    return RoundUp(Wait);
  return RoundUp(FAddresses[AAddress].Requests.Take(Now, FLimits.ConnectsPerMinute, 60s));
}

seconds TAccessGuard::PairingWait(const std::string& AAddress, const std::string& AHostId,
                                  bool APermanent) {
  const TRelayTime Now = FClock.Now();
  milliseconds Wait = 0ms;
  if (const auto Address = FAddresses.find(AAddress); Address != FAddresses.end())
    Wait = Address->second.Failures.Remaining(Now);
  if (const auto Host = FHosts.find(AHostId); !APermanent && Host != FHosts.end())
    Wait = std::max(Wait, Host->second.Remaining(Now));
  return RoundUp(Wait);
}

bool TAccessGuard::MayRegister(const std::string& AAddress) {
  return FAddresses[AAddress]
             .Registrations.Take(FClock.Now(), FLimits.RegistrationsPerHour, 3600s)
             .count() == 0;
}

void TAccessGuard::PairingFailed(const std::string& AAddress, const std::string& AHostId) {
  const TRelayTime Now = FClock.Now();
  FAddresses[AAddress].Failures.Fail(Now, AddressRule);
  FHosts[AHostId].Fail(Now, HostRule);
}

void TAccessGuard::Admitted(const std::string& AHostId) {
  FHosts.erase(AHostId);
}

void TAccessGuard::Forget() {
  const TRelayTime Now = FClock.Now();
  EraseIf(FAddresses, [&](const TAddressEntry& AEntry) {
    return AEntry.Requests.Full(Now, FLimits.ConnectsPerMinute, 60s) &&
           AEntry.Registrations.Full(Now, FLimits.RegistrationsPerHour, 3600s) &&
           AEntry.Failures.Idle(Now, AddressRule);
  });
  EraseIf(FHosts, [&](const TBackoff& ABackoff) { return ABackoff.Idle(Now, HostRule); });
}

}  // namespace halvora::relay
