#pragma once

#include <chrono>
#include <string>
#include <unordered_map>

#include "relay/uRelayClock.h"
#include "relay/uRelayLimits.h"

namespace halvora::relay {

// At most ACount events per APeriod, with a burst of ACount; starts full.
class TTokenBucket {
 public:
  // Takes one event; when none is left, the time until the next one and nothing is taken.
  std::chrono::milliseconds Take(TRelayTime ANow, unsigned ACount, std::chrono::seconds APeriod);
  bool Full(TRelayTime ANow, unsigned ACount, std::chrono::seconds APeriod) const;

 private:
  double Level(TRelayTime ANow, unsigned ACount, std::chrono::seconds APeriod) const;

  bool FUsed = false;  // false: full
  double FTokens = 0;
  TRelayTime FLast{};
};

// How failures of one kind lock something out: the first AFree failures cost nothing, the next
// one AFirst, each further one twice as much up to ALongest; failures older than AForget are
// forgotten.
struct TBackoffRule {
  unsigned Free;
  std::chrono::seconds First, Longest, Forget;
};

class TBackoff {
 public:
  void Fail(TRelayTime ANow, const TBackoffRule& ARule);
  std::chrono::milliseconds Remaining(TRelayTime ANow) const;
  // Nothing worth keeping: no failure, or only forgotten ones.
  bool Idle(TRelayTime ANow, const TBackoffRule& ARule) const;

 private:
  unsigned FFailures = 0;
  TRelayTime FLastFailure{}, FBlockedUntil{};
};

// Rate limits and back-offs against guessing, enumeration and lock-out: requests for a host
// (message 50) per connection and per address, new host registrations per address, and a
// back-off after failed pairings per address and per host ID. Not thread-safe: the registry
// calls it under its lock.
class TAccessGuard {
 public:
  TAccessGuard(const TRelayLimits& ALimits, const IRelayClock& AClock)
      : FLimits(ALimits), FClock(AClock) {}

  TRelayTime Now() const { return FClock.Now(); }
  // A request for a host from a connection with AConnection as its own bucket: zero when it
  // may go on, else the seconds to wait.
  std::chrono::seconds RequestWait(TTokenBucket& AConnection, const std::string& AAddress);
  // The back-off of the address and, unless the technician holds permanent access to the
  // host, of the host ID: zero or the seconds to wait.
  std::chrono::seconds PairingWait(const std::string& AAddress, const std::string& AHostId,
                                   bool APermanent);
  // Takes one registration of a new host from AAddress; false when none is left.
  bool MayRegister(const std::string& AAddress);
  // A pairing ended before the host admitted the technician.
  void PairingFailed(const std::string& AAddress, const std::string& AHostId);
  // The host admitted a technician: its ID is no longer backed off.
  void Admitted(const std::string& AHostId);
  // Drops what no longer limits anybody, so that the tables do not grow without end.
  void Forget();

 private:
  struct TAddressEntry {
    TTokenBucket Requests, Registrations;
    TBackoff Failures;
  };

  const TRelayLimits FLimits;
  const IRelayClock& FClock;
  std::unordered_map<std::string, TAddressEntry> FAddresses;
  std::unordered_map<std::string, TBackoff> FHosts;
};

}  // namespace halvora::relay
