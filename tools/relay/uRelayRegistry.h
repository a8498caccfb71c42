#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "relay/uRelayAccessGuard.h"
#include "relay/uRelayClock.h"
#include "relay/uRelayLimits.h"
#include "relay/uRelayPeer.h"
#include "relay/uRelayWire.h"

namespace halvora::relay {

class TRelayStore;

struct TRegistryConfig {
  std::string InstallOffer;  // message 12 after each registration, when not empty
  std::string Brand;         // message 16 after each registration, when not empty
  TRelayLimits Limits;
};

struct THostStatus {
  std::string Id;
  bool Online = false;
  bool InSession = false;
};

// Who is connected as what, and who is paired with whom. Handles every message that arrives on
// a connection: registration of hosts, hello and connect requests of technicians, forwarding of
// session messages and the end of sessions. Until the host admits the paired technician only
// the admission itself (challenge, proof, result) is carried. All state sits behind one mutex;
// messages to peers are queued while it is held, so that what one connection sends reaches its
// partner in order and never reaches a later partner.
class TRelayRegistry {
 public:
  TRelayRegistry(TRelayStore& AStore, TRegistryConfig AConfig,
                 const IRelayClock& AClock = SteadyRelayClock());

  // A new connection, not yet a host or a technician.
  void Open(const std::shared_ptr<TRelayPeer>& APeer);
  // Acts on one message. Returns the peer it was forwarded to, if any (for back-pressure).
  std::shared_ptr<TRelayPeer> Handle(std::uint64_t AConnection, std::string&& AMessage);
  // The connection has ended; its partner learns of the end. Later calls do nothing.
  void Leave(std::uint64_t AConnection);

  // Admin: sends a message to an online host; false when the host is offline.
  bool SendToHost(const std::string& AId, std::uint8_t ACmd, const std::string& APayload);
  template <class TMessage>
  bool SendToHost(const std::string& AId, const TMessage& AMessage) {
    return SendToHost(AId, TMessage::Cmd, PayloadOf(AMessage));
  }
  std::vector<THostStatus> Status();
  // Message 9 to every registered host.
  void Noop();
  // Closes connections that have not said hello in time and ends pairings whose host has not
  // admitted the technician in time. Called about once a second.
  void Tick();
  // Forgets every connection; from then on nothing is sent (the server is stopping).
  void Detach();

 private:
  enum class TRole { rlNone, rlHost, rlTechnician };
  struct TConnection {
    std::weak_ptr<TRelayPeer> Peer;
    std::string Address;  // key of the per-address limits
    TRelayTime Opened;
    TRole Role = TRole::rlNone;
    std::string HostId;         // hosts: own ID
    std::string Token;          // technicians: token of the hello
    std::uint64_t Partner = 0;  // paired connection, 0 when none
    bool Admitted = false;      // both sides of a pairing: the host has let the technician in
    TRelayTime AdmitBy;         // technicians while paired: the pairing ends unless admitted
    TTokenBucket Requests;      // technicians: messages 50
  };

  void Hello(std::uint64_t AConnection, const std::string& AText);
  void RegisterHost(std::uint64_t AConnection, const std::string& AId, const std::string& AKey);
  void Connect(std::uint64_t AConnection, const std::string& AText);
  bool MayRegister(std::uint64_t AConnection);
  std::shared_ptr<TRelayPeer> FromHost(std::uint64_t AConnection, std::string&& AMessage);
  std::shared_ptr<TRelayPeer> FromTechnician(std::uint64_t AConnection, std::string&& AMessage);
  std::shared_ptr<TRelayPeer> NotIdentified(std::uint64_t AConnection, std::uint8_t ACmd);

  // These expect FLock held.
  void SendLocked(std::uint64_t AConnection, std::uint8_t ACmd, std::string_view APayload);
  template <class TMessage>
  void SendLocked(std::uint64_t AConnection, const TMessage& AMessage) {
    SendLocked(AConnection, TMessage::Cmd, PayloadOf(AMessage));
  }
  void CloseLocked(std::uint64_t AConnection);
  // Ends the pairing of AConnection, if any; when AFailed and the host had not admitted the
  // technician, the technician's address and the host's ID are backed off.
  void UnpairLocked(TConnection& AConnection, std::string_view ATechnicianText, bool AFailed);
  void AdmitLocked(TConnection& AHost);
  std::shared_ptr<TRelayPeer> ForwardLocked(TConnection& AFrom, std::string&& AMessage);
  TConnection* FindLocked(std::uint64_t AConnection);

  TRelayStore& FStore;
  const TRegistryConfig FConfig;
  const IRelayClock& FClock;
  std::mutex FLock;
  TAccessGuard FAccess;                                         // guarded by FLock
  std::unordered_map<std::uint64_t, TConnection> FConnections;  // guarded by FLock
  std::unordered_map<std::string, std::uint64_t> FHosts;        // online host ID → connection
  bool FDetached = false;                                       // guarded by FLock
};

}  // namespace halvora::relay
