// One port for TLS and plain connections, with a certificate made for the test.
#include <gtest/gtest.h>

#include "relay/uRelayServer.h"
#include "uRelayTestKit.h"
#include "uRelayTestPki.h"

namespace halvora::relay::test {
namespace {

TEST(RelayTls, ServesWssAndWsOnOnePort) {
  TTempFolder Folder;
  const auto Certificate = MakeTestCertificate();
  Folder.Write("cert.pem", Certificate.CertPem);
  Folder.Write("key.pem", Certificate.KeyPem);
  Folder.Write("marcas/acme/nome.txt", "Acme");
  auto Options = TestOptions();
  Options.TlsCert = (Folder.Path() / "cert.pem").string();
  Options.TlsKey = (Folder.Path() / "key.pem").string();
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

TEST(RelayTls, RefusesToStartWithAnUnusableCertificate) {
  TTempFolder Folder;
  Folder.Write("cert.pem", "not a certificate");
  Folder.Write("key.pem", MakeTestCertificate().KeyPem);
  auto Options = TestOptions();
  Options.TlsCert = (Folder.Path() / "cert.pem").string();
  Options.TlsKey = (Folder.Path() / "key.pem").string();
  EXPECT_THROW(TRelayServer{Options}, std::runtime_error);
}

}  // namespace
}  // namespace halvora::relay::test
