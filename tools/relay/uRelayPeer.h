#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace halvora::relay {

// A relay connection as the registry sees it. Every method may be called from any thread.
class TRelayPeer {
 public:
  virtual ~TRelayPeer() = default;

  virtual std::uint64_t ConnectionId() const = 0;
  // Key of the per-address limits (AddressKey).
  virtual const std::string& Address() const = 0;
  // Until this is called only small messages are read (a hello, a request for a host, a proof);
  // from then on messages up to MaxMessageSize.
  virtual void AllowLargeMessages() = 0;
  // Queues one whole message (number byte and payload) for sending, after those queued before.
  virtual void Send(std::string AMessage) = 0;
  // Closes the connection once the messages queued so far are sent.
  virtual void Close() = 0;
  // False when the outbound queue, and the queues of all connections from the same address,
  // are within their limits. Otherwise true, and AResume is called (on some thread) once the
  // queue that was too long has drained or the connection has ended.
  virtual bool WaitForRoom(std::function<void()> AResume) = 0;
};

}  // namespace halvora::relay
