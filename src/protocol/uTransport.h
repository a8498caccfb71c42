#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/uBytes.h"

namespace halvora {

// What one receive delivered, numbered as the platform's WebSocket buffer types.
enum class TBufferType : std::uint8_t {
  btBinaryMessage = 0,   // the last (or only) part of a binary message
  btBinaryFragment = 1,  // a part of a binary message, more follows
  btUtf8Message = 2,     // the last (or only) part of a text message
  btUtf8Fragment = 3,    // a part of a text message, more follows
  btClose = 4,           // the peer closed the connection
};

// One WebSocket connection attempt. Open, Receive and Send block; Close may be called from
// any thread at any time and makes a blocked call return with failure. After Close every
// call fails. An object is used for one attempt only.
class IRelayTransport {
 public:
  virtual ~IRelayTransport() = default;
  // Connects and upgrades to WebSocket at APath; true when the WebSocket is open.
  virtual bool Open(const std::string& AHost, std::uint16_t APort, const std::string& APath,
                    bool ASecure) = 0;
  // Receives what is available of the current message, at most ASize bytes into ABuffer.
  virtual bool Receive(std::uint8_t* ABuffer, std::size_t ASize, std::size_t& ARead,
                       TBufferType& AType) = 0;
  // Sends AFrame as one whole binary message.
  virtual bool Send(const TIdBytes& AFrame) = 0;
  virtual void Close() = 0;
};

// Makes a new transport for every connection attempt.
class ITransportFactory {
 public:
  virtual ~ITransportFactory() = default;
  virtual std::shared_ptr<IRelayTransport> NewTransport() = 0;
};

}  // namespace halvora
