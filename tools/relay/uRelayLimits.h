#pragma once

#include <cstddef>

namespace halvora::relay {

// The figures that keep peers, however many, from filling the relay's memory or holding its
// hosts. Every one has a command-line option (uRelayOptions).
struct TRelayLimits {
  unsigned HelloTimeout = 10;           // s: first HTTP bytes, and the hello after the upgrade
  unsigned ConnectionsPerAddress = 64;  // open connections of one IPv4 address or IPv6 /64
  unsigned QueueBudget = 1024;          // MiB queued for sending, all connections together
  unsigned AddressQueueBudget = 128;    // MiB queued for the connections of one address
  unsigned AdmissionTimeout = 10;       // s from a pairing until the host admits the technician
  unsigned ConnectsPerMinute = 30;      // messages 50 of one address (also the burst)
  unsigned RegistrationsPerHour = 30;   // new host IDs registered from one address (also the burst)
};

inline constexpr std::size_t MiB = 1024 * 1024;

}  // namespace halvora::relay
