// The brand service, static files and the admin endpoint over HTTP.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "relay/uRelayHttp.h"
#include "relay/uRelayRegistry.h"
#include "relay/uRelayServer.h"
#include "relay/uRelayStore.h"
#include "uRelayTestKit.h"

namespace halvora::relay::test {
namespace {

const std::string Png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(100, '\x01');

class RelayHttpTest : public ::testing::Test {
 protected:
  RelayHttpTest() {
    Root.Write("marcas/acme/nome.txt", "\xEF\xBB\xBF  Acme Suporte Ltda\r\n");
    Root.Write("marcas/acme/logo.png", Png);
    Root.Write("marcas/sem_logo-2/nome.txt", "Só Nome");
    Root.Write("marcas/vazia/nome.txt", " \r\n ");
    Root.Write("site/index.html", "<p>início</p>");
    Root.Write("site/app/viewer.js", "let a;");
    Root.Write("site/app/style.css", "p{}");
    Root.Write("site/app/logo.svg", "<svg/>");
    Root.Write("site/app/data.json", "{}");
    Root.Write("site/app/sub/index.html", "sub");
    Root.Write("secret.txt", "segredo");
    std::filesystem::create_symlink(Root.Path() / "secret.txt", Root.Path() / "site/link.txt");
    auto Options = TestOptions();
    Options.BrandsFolder = (Root.Path() / "marcas").string();
    Options.StaticFolder = (Root.Path() / "site").string();
    Server = std::make_unique<TRelayServer>(Options);
  }
  THttpResult Get(const std::string& ATarget) {
    return HttpRequest(Server->Port(), "GET", ATarget);
  }

  TTempFolder Root;
  std::unique_ptr<TRelayServer> Server;
};

TEST_F(RelayHttpTest, BrandServiceAnswersFromTheBrandsFolder) {
  auto Answer = Get("/v1/marca/acme");
  ASSERT_EQ(Answer.Status, 200u);
  EXPECT_EQ(Answer.ContentType, "application/json; charset=utf-8");
  EXPECT_EQ(nlohmann::json::parse(Answer.Body),
            nlohmann::json({{"nome", "Acme Suporte Ltda"}, {"tem_logo", true}}));
  Answer = Get("/v1/marca/acme/logo");
  EXPECT_EQ(Answer.Status, 200u);
  EXPECT_EQ(Answer.ContentType, "image/png");
  EXPECT_TRUE(Answer.Body == Png);
  EXPECT_EQ(nlohmann::json::parse(Get("/v1/marca/sem_logo-2").Body),
            nlohmann::json({{"nome", "Só Nome"}, {"tem_logo", false}}));

  for (const std::string& Target : std::vector<std::string>{
           "/v1/marca/sem_logo-2/logo", "/v1/marca/desconhecida", "/v1/marca/vazia", "/v1/marca/",
           "/v1/marca/..", "/v1/marca/../secret.txt", "/v1/marca/%2e%2e", "/v1/marca/a.b",
           "/v1/marca/acme%2F..", "/v1/marca/" + std::string(65, 'a'), "/v1/marca/acme/nome.txt"}) {
    SCOPED_TRACE(Target);
    EXPECT_EQ(Get(Target).Status, 404u);
  }
}

TEST_F(RelayHttpTest, StaticFilesStayInsideTheirFolder) {
  struct TCase {
    std::string Target;
    unsigned Status;
    std::string ContentType;
  };
  const TCase Cases[] = {
      {"/", 200, "text/html; charset=utf-8"},
      {"/index.html?v=2", 200, "text/html; charset=utf-8"},
      {"/app/viewer.js", 200, "text/javascript; charset=utf-8"},
      {"/app/style.css", 200, "text/css; charset=utf-8"},
      {"/app/logo.svg", 200, "image/svg+xml"},
      {"/app/data.json", 200, "application/json; charset=utf-8"},
      {"/app/sub/", 200, "text/html; charset=utf-8"},
      {"/app/%76iewer.js", 200, "text/javascript; charset=utf-8"},
      {"/missing.html", 404, ""},
      {"/app", 404, ""},
      {"/../secret.txt", 404, ""},
      {"/app/../../secret.txt", 404, ""},
      {"/%2e%2e/secret.txt", 404, ""},
      {"/app/..%2f..%2fsecret.txt", 404, ""},
      {"/..%5csecret.txt", 404, ""},
      {"/app\\..\\..\\secret.txt", 404, ""},
      {"//etc/passwd", 404, ""},
      {"/%2fetc/passwd", 404, ""},
      {"/index.html%00.png", 404, ""},
      {"/link.txt", 404, ""},
      {"/%zz", 404, ""},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Target);
    const auto Answer = Get(Case.Target);
    EXPECT_EQ(Answer.Status, Case.Status);
    if (Case.Status == 200) {
      EXPECT_EQ(Answer.ContentType, Case.ContentType);
    }
    EXPECT_EQ(Answer.Body.find("segredo"), std::string::npos);
  }
  EXPECT_EQ(Get("/").Body, "<p>início</p>");
  EXPECT_EQ(HttpRequest(Server->Port(), "POST", "/index.html").Status, 405u);
  EXPECT_EQ(Get("/relay").Status, 426u);
}

TEST_F(RelayHttpTest, AdminEndpointDrivesHosts) {
  const auto Port = Server->Port();
  TRelayTestClient Host(Port);
  const std::string Id = RegisterHost(Host, "", "key");
  TRelayTestClient Other(Port);
  const std::string OtherId = RegisterHost(Other, "", "key");
  TRelayTestClient Technician(Port);
  HelloTechnician(Technician);
  ConnectTo(Technician, Id, 0);
  Expect(Host, 5);

  const auto Status = nlohmann::json::parse(Get("/admin/status").Body);
  ASSERT_EQ(Status["hosts"].size(), 2u);
  EXPECT_EQ(Status["hosts"][0]["id"], std::min(Id, OtherId));
  for (const auto& Entry : Status["hosts"])
    EXPECT_EQ(Entry["in_session"], Entry["id"] == Id) << Entry;
  EXPECT_EQ(Status["hosts"][0]["online"], true);

  const std::string Base = "/admin/hosts/" + Id;
  EXPECT_EQ(HttpRequest(Port, "POST", Base + "/offer", "Instale já\n").Status, 200u);
  EXPECT_EQ(Expect(Host, 12).Payload, "Instale já");
  EXPECT_EQ(HttpRequest(Port, "POST", Base + "/brand", "acme|Acme Suporte").Status, 200u);
  EXPECT_EQ(Expect(Host, 16).Payload, "acme|Acme Suporte");

  struct TCase {
    std::string Method, Target, Body;
    unsigned Status;
  };
  const TCase Refusals[] = {
      {"POST", "/admin/hosts/000000001/offer", "x", 404},
      {"POST", Base + "/offer", "  ", 400},
      {"POST", Base + "/brand", "sem barra", 400},
      {"POST", Base + "/permanent", "|Empresa", 400},
      {"GET", Base + "/offer", "", 405},
      {"PUT", Base + "/permanent", "t|e", 405},
      {"POST", Base + "/other", "x", 404},
      {"POST", "/admin/status", "", 405},
      {"GET", "/admin/", "", 404},
  };
  for (const auto& Case : Refusals) {
    SCOPED_TRACE(Case.Method + " " + Case.Target);
    const auto Answer = HttpRequest(Port, Case.Method, Case.Target, Case.Body);
    EXPECT_EQ(Answer.Status, Case.Status);
    EXPECT_FALSE(Answer.Body.empty());
  }
}

TEST_F(RelayHttpTest, AdminRefusesOfflineHosts) {
  {
    TRelayTestClient Gone(Server->Port());
    RegisterHost(Gone, "555000333", "key");
  }
  ASSERT_TRUE(WaitOnline(Server->Port(), "555000333", false));
  EXPECT_EQ(HttpRequest(Server->Port(), "POST", "/admin/hosts/555000333/offer", "x").Status, 409u);
  // Permanent access is stored for an offline host all the same.
  const auto Answer =
      HttpRequest(Server->Port(), "POST", "/admin/hosts/555000333/permanent", "t|Empresa");
  EXPECT_EQ(Answer.Status, 200u);
  EXPECT_EQ(nlohmann::json::parse(Answer.Body),
            nlohmann::json({{"permanentes", 1}, {"avisado", false}}));
}

TEST(RelayAdmin, OnlyLoopbackPeersReachIt) {
  TRelayStore Store(":memory:");
  TRelayRegistry Registry(Store, {});
  TRelayHttp Http(Registry, Store, "", "");
  EXPECT_EQ(Http.Handle("GET", "/admin/status", "", true).Status, 200u);
  for (const std::string Target : {"/admin/status", "/admin/hosts/1/offer", "/admin"})
    EXPECT_EQ(Http.Handle("POST", Target, "x", false).Status, 403u) << Target;

  namespace ip = boost::asio::ip;
  for (const auto& [Address, Loopback] :
       std::vector<std::pair<std::string, bool>>{{"127.0.0.1", true},
                                                 {"127.9.9.9", true},
                                                 {"::1", true},
                                                 {"::ffff:127.0.0.1", true},
                                                 {"10.0.0.5", false},
                                                 {"::ffff:10.0.0.5", false},
                                                 {"2001:db8::1", false},
                                                 {"0.0.0.0", false}})
    EXPECT_EQ(IsLoopback(ip::make_address(Address)), Loopback) << Address;
}

}  // namespace
}  // namespace halvora::relay::test
