#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "relay/uRelayBudget.h"

namespace halvora::relay {

// The key under which a peer's address is limited: the IPv4 address (also when mapped into
// IPv6), or the /64 prefix of an IPv6 address, which one subscriber usually holds whole.
std::string AddressKey(const boost::asio::ip::address& AAddress);

class TAddressTable;

// One connection's place in the count of its address; released when the last holder lets go.
class TAddressSlot {
 public:
  struct TEntry {
    explicit TEntry(std::size_t AQueueBudget) : Queue(AQueueBudget) {}
    unsigned Connections = 0;  // guarded by the table's lock
    TByteBudget Queue;         // bytes queued for the connections of this address
  };

  TAddressSlot(TAddressTable& ATable, std::string AKey, int ASocket, std::shared_ptr<TEntry> AEntry)
      : FTable(ATable), FKey(std::move(AKey)), FSocket(ASocket), FEntry(std::move(AEntry)) {}
  ~TAddressSlot();
  TAddressSlot(const TAddressSlot&) = delete;
  TAddressSlot& operator=(const TAddressSlot&) = delete;

  const std::string& Key() const { return FKey; }
  TByteBudget& Queue() { return FEntry->Queue; }

 private:
  friend class TAddressTable;
  TAddressTable& FTable;
  const std::string FKey;
  const int FSocket;  // native handle of the connection's socket
  const std::shared_ptr<TEntry> FEntry;
};

// Open connections and queued bytes per address. Thread-safe; outlives every slot.
class TAddressTable {
 public:
  TAddressTable(unsigned AConnectionsPerAddress, std::size_t AQueueBudget)
      : FConnectionsPerAddress(AConnectionsPerAddress), FQueueBudget(AQueueBudget) {}

  // A slot for a newly accepted connection; empty when its address has the most connections
  // it may.
  std::shared_ptr<TAddressSlot> Enter(boost::asio::ip::tcp::socket& ASocket);
  // The slot of a connection that changes hands (from HTTP to WebSocket), shared with its
  // first holder.
  std::shared_ptr<TAddressSlot> Share(boost::asio::ip::tcp::socket& ASocket);
  // Forgets the waiters of every address without calling them (the server is stopping).
  void Drop();

 private:
  friend class TAddressSlot;
  std::shared_ptr<TAddressSlot> Take(boost::asio::ip::tcp::socket& ASocket, bool ALimited);
  void Release(const TAddressSlot& ASlot);

  const unsigned FConnectionsPerAddress;
  const std::size_t FQueueBudget;
  std::mutex FLock;
  std::unordered_map<std::string, std::shared_ptr<TAddressSlot::TEntry>> FEntries;  // FLock
  std::unordered_map<int, std::weak_ptr<TAddressSlot>> FSlots;  // by socket; FLock
};

}  // namespace halvora::relay
