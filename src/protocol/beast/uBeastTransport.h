#pragma once

#include <memory>
#include <string>

#include "protocol/uTransport.h"

namespace boost::asio::ssl {
class context;
}

namespace halvora {

// Which certificates a secure connection trusts.
struct TBeastOptions {
  std::string ExtraCaPem;  // PEM certificates added to the trust store
  bool UseSystemStore = true;
};

// WebSocket transport on Boost.Beast and OpenSSL. Each object owns an I/O thread that runs
// every socket operation; Open, Receive and Send post their operation there and wait.
class TBeastTransport final : public IRelayTransport {
 public:
  explicit TBeastTransport(std::shared_ptr<boost::asio::ssl::context> ATls);
  ~TBeastTransport() override;
  TBeastTransport(const TBeastTransport&) = delete;
  TBeastTransport& operator=(const TBeastTransport&) = delete;

  bool Open(const std::string& AHost, std::uint16_t APort, const std::string& APath,
            bool ASecure) override;
  bool Receive(std::uint8_t* ABuffer, std::size_t ASize, std::size_t& ARead,
               TBufferType& AType) override;
  bool Send(const TIdBytes& AFrame) override;
  void Close() override;

 private:
  class TConnection;

  std::unique_ptr<TConnection> FConnection;
};

// Makes Beast transports that share one TLS context built from the options.
class TBeastTransportFactory final : public ITransportFactory {
 public:
  explicit TBeastTransportFactory(const TBeastOptions& AOptions = {});
  std::shared_ptr<IRelayTransport> NewTransport() override;

 private:
  std::shared_ptr<boost::asio::ssl::context> FTls;
};

}  // namespace halvora
