#include "relay/uRelayAddresses.h"

#include <vector>

namespace halvora::relay {

namespace net = boost::asio;

std::string AddressKey(const net::ip::address& AAddress) {
  if (AAddress.is_v4()) return AAddress.to_string();
  const auto V6 = AAddress.to_v6();
  if (V6.is_v4_mapped()) return net::ip::make_address_v4(net::ip::v4_mapped, V6).to_string();
  auto Bytes = V6.to_bytes();
  std::fill(Bytes.begin() + 8, Bytes.end(), 0);
  return net::ip::address_v6(Bytes).to_string() + "/64";
}

TAddressSlot::~TAddressSlot() {
  FTable.Release(*this);
}

std::shared_ptr<TAddressSlot> TAddressTable::Enter(net::ip::tcp::socket& ASocket) {
  return Take(ASocket, true);
}

std::shared_ptr<TAddressSlot> TAddressTable::Share(net::ip::tcp::socket& ASocket) {
  {
    std::lock_guard Guard(FLock);
    const auto Found = FSlots.find(ASocket.native_handle());
    if (Found != FSlots.end())
      if (auto Slot = Found->second.lock()) return Slot;
  }
  return Take(ASocket, false);
}

std::shared_ptr<TAddressSlot> TAddressTable::Take(net::ip::tcp::socket& ASocket, bool ALimited) {
  boost::system::error_code Error;
  const auto Remote = ASocket.remote_endpoint(Error);
  std::string Key = AddressKey(Error ? net::ip::address() : Remote.address());
  std::lock_guard Guard(FLock);
  auto& Entry = FEntries[Key];
  if (!Entry) Entry = std::make_shared<TAddressSlot::TEntry>(FQueueBudget);
  if (ALimited && Entry->Connections >= FConnectionsPerAddress) return nullptr;
  ++Entry->Connections;
  auto Slot = std::make_shared<TAddressSlot>(*this, std::move(Key), ASocket.native_handle(), Entry);
  FSlots[Slot->FSocket] = Slot;
  return Slot;
}

void TAddressTable::Release(const TAddressSlot& ASlot) {
  std::lock_guard Guard(FLock);
  if (const auto Found = FSlots.find(ASlot.FSocket);
      Found != FSlots.end() && Found->second.expired())
    FSlots.erase(Found);
  const auto Found = FEntries.find(ASlot.FKey);
  if (Found != FEntries.end() && --Found->second->Connections == 0) FEntries.erase(Found);
}

void TAddressTable::Drop() {
  std::vector<std::shared_ptr<TAddressSlot::TEntry>> Entries;
  {
    std::lock_guard Guard(FLock);
    for (const auto& [Key, Entry] : FEntries) Entries.push_back(Entry);
  }
  // Outside the lock: a dropped waiter may hold the last reference to a connection.
  for (const auto& Entry : Entries) Entry->Queue.Drop();
}

}  // namespace halvora::relay
