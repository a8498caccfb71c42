#include "relay/uRelayServer.h"

#include <boost/asio/strand.hpp>

#include "relay/uRelayLog.h"

namespace halvora::relay {

namespace net = boost::asio;
using net::ip::tcp;

namespace {

// TLS 1.2 with forward-secret AEAD suites only (ECDHE with AES-GCM or ChaCha20-Poly1305), and
// TLS 1.3, whose suites all are; nothing older.
boost::asio::ssl::context MakeTls(const TRelayOptions& AOptions) {
  try {
    net::ssl::context Result(net::ssl::context::tls_server);
    SSL_CTX* const Native = Result.native_handle();
    if (SSL_CTX_set_min_proto_version(Native, TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_cipher_list(Native,
                                "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
                                "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
                                "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305") != 1 ||
        SSL_CTX_set_ciphersuites(Native,
                                 "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:"
                                 "TLS_CHACHA20_POLY1305_SHA256") != 1)
      throw std::runtime_error("configuração de cifras recusada pelo OpenSSL");
    Result.set_options(net::ssl::context::default_workarounds | net::ssl::context::no_compression |
                       SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_RENEGOTIATION);
    Result.use_certificate_chain_file(AOptions.TlsCert);
    Result.use_private_key_file(AOptions.TlsKey, net::ssl::context::pem);
    return Result;
  } catch (const std::exception& AException) {
    throw std::runtime_error("certificado ou chave TLS inutilizável: " +
                             std::string(AException.what()));
  }
}

tcp::endpoint MakeEndpoint(const TRelayOptions& AOptions) {
  boost::system::error_code Error;
  const auto Address = net::ip::make_address(AOptions.Address, Error);
  if (Error) throw std::runtime_error("endereço inválido: " + AOptions.Address);
  return {Address, AOptions.Port};
}

unsigned ThreadCount(unsigned ARequested) {
  if (ARequested) return ARequested;
  return std::clamp(std::thread::hardware_concurrency(), 2u, 4u);
}

}  // namespace

TRelayServer::TRelayServer(const TRelayOptions& AOptions)
    : FStore(AOptions.Database),
      FRegistry(FStore, {AOptions.InstallOffer, AOptions.Brand, AOptions.Limits}),
      FHttp(FRegistry, FStore, AOptions.BrandsFolder, AOptions.StaticFolder,
            LoadAdminToken(AOptions.AdminToken, AOptions.AdminTokenFile)),
      FTls(AOptions.TlsCert.empty() ? std::nullopt : std::optional(MakeTls(AOptions))),
      FAddresses(AOptions.Limits.ConnectionsPerAddress, AOptions.Limits.AddressQueueBudget * MiB),
      FQueued(AOptions.Limits.QueueBudget * MiB),
      FContext{FRegistry,  FHttp,   FTls ? &*FTls : nullptr,
               FAddresses, FQueued, std::chrono::seconds(AOptions.Limits.HelloTimeout)},
      FNoopInterval(AOptions.NoopInterval),
      FWork(FIo.get_executor()),
      FAcceptor(net::make_strand(FIo)),
      FNoop(FIo),
      FAcceptRetry(FIo),
      FTick(FIo) {
  SetLogQuiet(AOptions.Quiet);
  const tcp::endpoint Endpoint = MakeEndpoint(AOptions);
  try {
    FAcceptor.open(Endpoint.protocol());
    FAcceptor.set_option(net::socket_base::reuse_address(true));
    FAcceptor.bind(Endpoint);
    FAcceptor.listen(net::socket_base::max_listen_connections);
  } catch (const boost::system::system_error& AError) {
    throw std::runtime_error("não foi possível escutar em " + AOptions.Address + ":" +
                             std::to_string(AOptions.Port) + ": " + AError.code().message());
  }
  FPort = FAcceptor.local_endpoint().port();
  Accept();
  ScheduleNoop();
  ScheduleTick();
  std::lock_guard Guard(FStopLock);
  for (unsigned I = ThreadCount(AOptions.Threads); I > 0; --I)
    FThreads.emplace_back([this] {
      for (;;) {
        try {
          FIo.run();
          return;
        } catch (const std::exception& AException) {
          Log(std::string("erro na thread de E/S: ") + AException.what());
        } catch (...) {
          Log("erro desconhecido na thread de E/S");
        }
      }
    });
}

TRelayServer::~TRelayServer() {
  Stop();
}

void TRelayServer::Stop() {
  std::vector<std::thread> Threads;
  {
    std::lock_guard Guard(FStopLock);
    Threads.swap(FThreads);
  }
  if (Threads.empty()) return;
  FIo.stop();
  for (auto& Thread : Threads) Thread.join();
  // The connections' handlers die with the io_context; none of them may reach a peer now, and
  // none may wait for room any longer.
  FRegistry.Detach();
  FQueued.Drop();
  FAddresses.Drop();
}

void TRelayServer::Accept() {
  FAcceptor.async_accept(net::make_strand(FIo),
                         [this](boost::system::error_code AError, tcp::socket ASocket) {
                           if (AError == net::error::operation_aborted) return;
                           if (!AError) {
                             ServeConnection(std::move(ASocket), FContext);
                             return Accept();
                           }
                           // Out of descriptors and the like: try again a little later instead of
                           // spinning.
                           Log("falha ao aceitar conexão: " + AError.message());
                           FAcceptRetry.expires_after(std::chrono::milliseconds(100));
                           FAcceptRetry.async_wait([this](boost::system::error_code AWaitError) {
                             if (!AWaitError) Accept();
                           });
                         });
}

void TRelayServer::ScheduleNoop() {
  if (!FNoopInterval) return;
  FNoop.expires_after(std::chrono::seconds(FNoopInterval));
  FNoop.async_wait([this](boost::system::error_code AError) {
    if (AError) return;
    FRegistry.Noop();
    ScheduleNoop();
  });
}

void TRelayServer::ScheduleTick() {
  FTick.expires_after(std::chrono::seconds(1));
  FTick.async_wait([this](boost::system::error_code AError) {
    if (AError) return;
    FRegistry.Tick();
    ScheduleTick();
  });
}

}  // namespace halvora::relay
