// One port for TLS and plain connections, with a certificate made for the test.
#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <boost/asio/ssl/stream.hpp>
#include <boost/beast/core/tcp_stream.hpp>

#include "relay/uRelayServer.h"
#include "support/uTestPki.h"
#include "uRelayTestKit.h"

namespace halvora::relay::test {
namespace {

namespace net = boost::asio;

TRelayOptions SecureOptions(const TTempFolder& AFolder) {
  const auto Pki = halvora::test::MakeTestPki({"localhost"}, {"127.0.0.1"});
  AFolder.Write("cert.pem", Pki.ServerCertPem);
  AFolder.Write("key.pem", Pki.ServerKeyPem);
  auto Options = TestOptions();
  Options.TlsCert = (AFolder.Path() / "cert.pem").string();
  Options.TlsKey = (AFolder.Path() / "key.pem").string();
  return Options;
}

// Whether a client limited to AVersion and to ACiphers (TLS 1.2 and older: a cipher list;
// TLS 1.3: suites) completes a handshake with the relay.
bool Handshakes(std::uint16_t APort, int AVersion, const char* ACiphers) {
  net::io_context Io;
  net::ssl::context Context(net::ssl::context::tls_client);
  SSL_CTX* const Native = Context.native_handle();
  SSL_CTX_set_min_proto_version(Native, AVersion);
  SSL_CTX_set_max_proto_version(Native, AVersion);
  const bool Set = AVersion == TLS1_3_VERSION ? SSL_CTX_set_ciphersuites(Native, ACiphers) == 1
                                              : SSL_CTX_set_cipher_list(Native, ACiphers) == 1;
  if (!Set) throw std::runtime_error(std::string("client cipher list refused: ") + ACiphers);
  net::ssl::stream<boost::beast::tcp_stream> Stream(Io, Context);
  bool Done = false;
  boost::system::error_code Error;
  boost::beast::get_lowest_layer(Stream).expires_after(10s);
  boost::beast::get_lowest_layer(Stream).async_connect(
      {net::ip::make_address("127.0.0.1"), APort}, [&](boost::system::error_code AError) {
        if (AError) {
          Error = AError;
          Done = true;
          return;
        }
        Stream.async_handshake(net::ssl::stream_base::client,
                               [&](boost::system::error_code AHandshakeError) {
                                 Error = AHandshakeError;
                                 Done = true;
                               });
      });
  Io.run_for(15s);
  return Done && !Error;
}

TEST(RelayTls, ServesWssAndWsOnOnePort) {
  TTempFolder Folder;
  Folder.Write("marcas/acme/nome.txt", "Acme");
  auto Options = SecureOptions(Folder);
  Options.BrandsFolder = (Folder.Path() / "marcas").string();
  TRelayServer Server(Options);
  ASSERT_TRUE(Server.Secure());

  TRelayTestClient Host(Server.Port(), true);
  const std::string Id = RegisterHost(Host, "", "key");
  TRelayTestClient Technician(Server.Port(), false);
  HelloTechnician(Technician);
  ConnectTo(Technician, Id, 0);
  Expect(Host, 5);
  Admit(Host, Technician);
  const std::string Frame(300 * 1024, 'F');
  Host.Send(103, Frame);
  EXPECT_TRUE(Expect(Technician, 103).Payload == Frame);
  Technician.Send(104);
  Expect(Host, 104);

  for (const bool Secure : {true, false}) {
    const auto Answer = HttpRequest(Server.Port(), "GET", "/v1/marca/acme", {}, Secure);
    EXPECT_EQ(Answer.Status, 200u) << Secure;
    EXPECT_EQ(Answer.Body, R"({"nome":"Acme","tem_logo":false})") << Secure;
  }
}

TEST(RelayTls, OffersForwardSecretAeadSuitesOnly) {
  TTempFolder Folder;
  TRelayServer Server(SecureOptions(Folder));
  struct TCase {
    int Version;
    const char* Ciphers;
    bool Accepted;
  };
  const TCase Cases[] = {
      {TLS1_3_VERSION, "TLS_AES_128_GCM_SHA256", true},
      {TLS1_3_VERSION, "TLS_CHACHA20_POLY1305_SHA256", true},
      {TLS1_2_VERSION, "ECDHE-ECDSA-AES128-GCM-SHA256", true},
      {TLS1_2_VERSION, "ECDHE-ECDSA-AES256-GCM-SHA384", true},
      {TLS1_2_VERSION, "ECDHE-ECDSA-CHACHA20-POLY1305", true},
      {TLS1_2_VERSION, "ECDHE-ECDSA-AES128-SHA", false},
      {TLS1_2_VERSION, "ECDHE-ECDSA-AES256-SHA384", false},
      {TLS1_2_VERSION, "ECDHE-ECDSA-AES128-CCM", false},
      {TLS1_1_VERSION, "ECDHE-ECDSA-AES128-SHA:@SECLEVEL=0", false},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(Handshakes(Server.Port(), Case.Version, Case.Ciphers), Case.Accepted)
        << std::hex << Case.Version << " " << Case.Ciphers;
}

TEST(RelayTls, RefusesToStartWithAnUnusableCertificate) {
  TTempFolder Folder;
  Folder.Write("cert.pem", "not a certificate");
  Folder.Write("key.pem", halvora::test::MakeTestPki({"localhost"}, {}).ServerKeyPem);
  auto Options = TestOptions();
  Options.TlsCert = (Folder.Path() / "cert.pem").string();
  Options.TlsKey = (Folder.Path() / "key.pem").string();
  EXPECT_THROW(TRelayServer{Options}, std::runtime_error);
}

}  // namespace
}  // namespace halvora::relay::test
