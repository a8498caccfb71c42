#include "support/uScriptTransport.h"

#include <algorithm>
#include <cstring>

namespace halvora::test {

class TScriptTransport final : public IRelayTransport {
 public:
  explicit TScriptTransport(std::shared_ptr<TScriptRelay> ARelay) : FRelay(std::move(ARelay)) {}

  bool Open(const std::string&, std::uint16_t, const std::string&, bool) override {
    std::lock_guard Guard(FRelay->FLock);
    if (FClosed) return false;
    FGeneration = FRelay->FGeneration;
    FRelay->FIncoming.clear();
    ++FRelay->FConnections;
    FRelay->FChanged.notify_all();
    return true;
  }

  bool Receive(std::uint8_t* ABuffer, std::size_t ASize, std::size_t& ARead,
               TBufferType& AType) override {
    std::unique_lock Guard(FRelay->FLock);
    ++FRelay->FWaiting;
    FRelay->FChanged.notify_all();
    FRelay->FChanged.wait(Guard, [&] { return Ended() || !FRelay->FIncoming.empty(); });
    --FRelay->FWaiting;
    if (Ended()) return false;
    TIdBytes& Front = FRelay->FIncoming.front();
    ARead = std::min(ASize, Front.size());
    if (ARead > 0) std::memcpy(ABuffer, Front.data(), ARead);
    Front.erase(Front.begin(), Front.begin() + static_cast<std::ptrdiff_t>(ARead));
    const bool Last = Front.empty();
    if (Last) FRelay->FIncoming.pop_front();
    AType = Last ? TBufferType::btBinaryMessage : TBufferType::btBinaryFragment;
    return true;
  }

  bool Send(const TIdBytes& AFrame) override {
    std::lock_guard Guard(FRelay->FLock);
    if (Ended()) return false;
    FRelay->FSent.push_back(AFrame);
    FRelay->FChanged.notify_all();
    return true;
  }

  void Close() override {
    std::lock_guard Guard(FRelay->FLock);
    FClosed = true;
    FRelay->FChanged.notify_all();
  }

 private:
  bool Ended() const { return FClosed || FGeneration != FRelay->FGeneration; }

  const std::shared_ptr<TScriptRelay> FRelay;
  bool FClosed = false;
  int FGeneration = -1;
};

std::shared_ptr<IRelayTransport> TScriptRelay::NewTransport() {
  return std::make_shared<TScriptTransport>(shared_from_this());
}

void TScriptRelay::Push(TIdBytes AMessage) {
  std::lock_guard Guard(FLock);
  FIncoming.push_back(std::move(AMessage));
  FChanged.notify_all();
}

void TScriptRelay::Drop() {
  std::lock_guard Guard(FLock);
  ++FGeneration;
  FIncoming.clear();
  FChanged.notify_all();
}

bool TScriptRelay::WaitTaken(std::chrono::milliseconds ATimeout) {
  std::unique_lock Guard(FLock);
  return FChanged.wait_for(Guard, ATimeout, [&] { return FIncoming.empty() && FWaiting > 0; });
}

bool TScriptRelay::NextSent(TIdBytes& AMessage, std::chrono::milliseconds ATimeout) {
  std::unique_lock Guard(FLock);
  if (!FChanged.wait_for(Guard, ATimeout, [&] { return !FSent.empty(); })) return false;
  AMessage = std::move(FSent.front());
  FSent.pop_front();
  return true;
}

std::vector<TIdBytes> TScriptRelay::TakeSent() {
  std::lock_guard Guard(FLock);
  std::vector<TIdBytes> Result(FSent.begin(), FSent.end());
  FSent.clear();
  return Result;
}

int TScriptRelay::Connections() {
  std::lock_guard Guard(FLock);
  return FConnections;
}

}  // namespace halvora::test
