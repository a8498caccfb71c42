#pragma once

#include <memory>
#include <string>

#include "protocol/uTransport.h"

namespace halvora::test {

class TProbeProcess;  // the Windows test program under Wine, see uWineTransport.cpp

// The WinHTTP transport of the Windows build, in its test program halvora-winhttp-probe under
// Wine: one program per transport, driven through its standard input and output. Calls block
// as the transport's own do, and may come from several threads at once.
class TWineTransport final : public IRelayTransport {
 public:
  TWineTransport();  // starts the program; throws when it cannot
  ~TWineTransport() override;
  TWineTransport(const TWineTransport&) = delete;
  TWineTransport& operator=(const TWineTransport&) = delete;

  bool Open(const std::string& AHost, std::uint16_t APort, const std::string& APath,
            bool ASecure) override;
  bool Receive(std::uint8_t* ABuffer, std::size_t ASize, std::size_t& ARead,
               TBufferType& AType) override;
  bool Send(const TIdBytes& AFrame) override;
  void Close() override;

 private:
  std::unique_ptr<TProbeProcess> FProbe;
};

// Makes Wine transports. The Wine prefix's Root store trusts ACaPem (unless empty) while the
// factory lives; the store is the prefix's, so the trust reaches every transport there.
class TWineTransportFactory final : public ITransportFactory {
 public:
  explicit TWineTransportFactory(std::string ACaPem = {});  // throws when the store refuses
  ~TWineTransportFactory() override;
  TWineTransportFactory(const TWineTransportFactory&) = delete;
  TWineTransportFactory& operator=(const TWineTransportFactory&) = delete;

  std::shared_ptr<IRelayTransport> NewTransport() override;

 private:
  const std::string FCaPem;
};

}  // namespace halvora::test
