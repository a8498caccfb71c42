#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "protocol/uTransport.h"

namespace halvora::test {

// An in-memory relay: every transport it makes opens at once; the test pushes whole
// messages for the client to receive and reads what the client sent. Drop ends the current
// connection as a lost link would.
class TScriptRelay final : public ITransportFactory,
                           public std::enable_shared_from_this<TScriptRelay> {
 public:
  std::shared_ptr<IRelayTransport> NewTransport() override;

  // A message to the client on the current connection.
  void Push(TIdBytes AMessage);
  void Drop();
  // Waits until the client has taken every pushed message and waits for the next one, so
  // that each has been handed on; false after ATimeout.
  bool WaitTaken(std::chrono::milliseconds ATimeout = std::chrono::seconds(10));
  // The next message the client sent; false after ATimeout (a guard against hangs).
  bool NextSent(TIdBytes& AMessage, std::chrono::milliseconds ATimeout = std::chrono::seconds(10));
  // Everything the client sent that was not taken yet.
  std::vector<TIdBytes> TakeSent();
  int Connections();

 private:
  friend class TScriptTransport;
  std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<TIdBytes> FIncoming;
  std::deque<TIdBytes> FSent;
  int FConnections = 0;
  int FWaiting = 0;     // receives blocked on an empty queue
  int FGeneration = 0;  // bumped by Drop: transports of older generations are closed
};

}  // namespace halvora::test
