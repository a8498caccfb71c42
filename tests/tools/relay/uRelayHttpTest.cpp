// The brand service, static files, the admin endpoint and the HTTP framing rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "relay/uRelayHttp.h"
#include "relay/uRelayRegistry.h"
#include "relay/uRelayServer.h"
#include "relay/uRelayStore.h"
#include "relay/uRelayWire.h"
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
    // Brand files reached through links: out of the brands folder, and within it.
    Root.Write("fora/nome.txt", "Marca Alheia");
    Root.Write("fora/logo.png", Png);
    Root.Write("marcas/logo-fora/nome.txt", "Logo Fora");
    std::filesystem::create_directories(Root.Path() / "marcas/nome-fora");
    std::filesystem::create_directory_symlink(Root.Path() / "fora", Root.Path() / "marcas/ligada");
    std::filesystem::create_symlink(Root.Path() / "fora/nome.txt",
                                    Root.Path() / "marcas/nome-fora/nome.txt");
    std::filesystem::create_symlink(Root.Path() / "fora/logo.png",
                                    Root.Path() / "marcas/logo-fora/logo.png");
    std::filesystem::create_directory_symlink("acme", Root.Path() / "marcas/apelido");
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

TEST_F(RelayHttpTest, BrandFilesBehindLinksOutOfTheFolderAreNotServed) {
  for (const std::string Target : {"/v1/marca/ligada", "/v1/marca/ligada/logo",
                                   "/v1/marca/nome-fora", "/v1/marca/logo-fora/logo"}) {
    SCOPED_TRACE(Target);
    const auto Answer = Get(Target);
    EXPECT_EQ(Answer.Status, 404u);
    EXPECT_EQ(Answer.Body.find("Alheia"), std::string::npos);
    EXPECT_FALSE(Answer.Body == Png);
  }
  EXPECT_EQ(nlohmann::json::parse(Get("/v1/marca/logo-fora").Body),
            nlohmann::json({{"nome", "Logo Fora"}, {"tem_logo", false}}));
  // A link that stays in the folder is followed.
  EXPECT_EQ(nlohmann::json::parse(Get("/v1/marca/apelido").Body),
            nlohmann::json({{"nome", "Acme Suporte Ltda"}, {"tem_logo", true}}));
  EXPECT_TRUE(Get("/v1/marca/apelido/logo").Body == Png);
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

TEST_F(RelayHttpTest, PagesCarryTheirContentPolicyAndNoAnswerIsSniffed) {
  const auto Page = Get("/");
  const std::string Policy = Page.Header("content-security-policy");
  std::set<std::string> Directives;
  for (std::size_t Start = 0; Start < Policy.size();) {
    const auto End = std::min(Policy.find(';', Start), Policy.size());
    Directives.insert(Trim(std::string_view(Policy).substr(Start, End - Start)));
    Start = End + 1;
  }
  for (const std::string Directive :
       {"default-src 'none'", "script-src 'self'", "style-src 'self'", "connect-src 'self'",
        "object-src 'none'", "base-uri 'none'", "frame-ancestors 'none'"})
    EXPECT_TRUE(Directives.count(Directive)) << Directive << " in " << Policy;
  EXPECT_EQ(Policy.find("unsafe-"), std::string::npos) << Policy;
  for (const auto& Answer :
       {Page, Get("/app/viewer.js"), Get("/missing.html"), Get("/v1/marca/acme"),
        AdminRequest(Server->Port(), "GET", "/admin/status")})
    EXPECT_EQ(Answer.Header("x-content-type-options"), "nosniff") << Answer.ContentType;
}

// A transfer coding other than "chunked" alone leaves the end of the body to interpretation (the
// rest could be read as a second request); such a request is answered 400 and nothing after it.
TEST_F(RelayHttpTest, OnlyChunkedAloneIsTakenAsTransferCoding) {
  const std::string Hidden = "0\r\n\r\nGET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  const std::string Start = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  for (const std::string Fields :
       {"Transfer-Encoding: gzip\r\n", "Transfer-Encoding: identity\r\n",
        "Transfer-Encoding: chunked, gzip\r\n", "Transfer-Encoding: gzip, chunked\r\n",
        "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n",
        "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n"}) {
    SCOPED_TRACE(Fields);
    const std::string Answer = RawHttp(Server->Port(), Start + Fields + "\r\n" + Hidden);
    EXPECT_EQ(Answer.substr(0, 13), "HTTP/1.1 400 ");
    EXPECT_EQ(Answer.find("HTTP/1.1", 1), std::string::npos) << Answer;
  }
  const std::string Old =
      RawHttp(Server->Port(), "GET / HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n" + Hidden);
  EXPECT_EQ(Old.substr(0, 13), "HTTP/1.0 400 ");
  EXPECT_EQ(Old.find("HTTP/1.", 1), std::string::npos) << Old;

  const std::string Chunked =
      RawHttp(Server->Port(), Start + "Transfer-Encoding: Chunked\r\nConnection: close\r\n\r\n" +
                                  "3\r\nabc\r\n0\r\n\r\n");
  EXPECT_EQ(Chunked.substr(0, 13), "HTTP/1.1 200 ");
  EXPECT_NE(Chunked.find("<p>início</p>"), std::string::npos);
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

  const auto Status = nlohmann::json::parse(AdminRequest(Port, "GET", "/admin/status").Body);
  ASSERT_EQ(Status["hosts"].size(), 2u);
  EXPECT_EQ(Status["hosts"][0]["id"], std::min(Id, OtherId));
  for (const auto& Entry : Status["hosts"])
    EXPECT_EQ(Entry["in_session"], Entry["id"] == Id) << Entry;
  EXPECT_EQ(Status["hosts"][0]["online"], true);

  const std::string Base = "/admin/hosts/" + Id;
  EXPECT_EQ(AdminRequest(Port, "POST", Base + "/offer", "Instale já\n").Status, 200u);
  EXPECT_EQ(Expect(Host, 12).Payload, "Instale já");
  EXPECT_EQ(AdminRequest(Port, "POST", Base + "/brand", "acme|Acme Suporte").Status, 200u);
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
    const auto Answer = AdminRequest(Port, Case.Method, Case.Target, Case.Body);
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
  EXPECT_EQ(AdminRequest(Server->Port(), "POST", "/admin/hosts/555000333/offer", "x").Status, 409u);
  // Permanent access is stored for an offline host all the same.
  const auto Answer =
      AdminRequest(Server->Port(), "POST", "/admin/hosts/555000333/permanent", "t|Empresa");
  EXPECT_EQ(Answer.Status, 200u);
  EXPECT_EQ(nlohmann::json::parse(Answer.Body),
            nlohmann::json({{"permanentes", 1}, {"avisado", false}}));
}

// A page the operator opens in a browser on the relay's machine must not drive the endpoint:
// neither from its own site nor through a name of that site resolving to 127.0.0.1.
TEST_F(RelayHttpTest, AdminWantsTheTokenFromTheRelaysOwnSite) {
  const std::string Port = std::to_string(Server->Port());
  const std::string Bearer = std::string("Bearer ") + TestAdminToken;
  struct TCase {
    THeaders Headers;
    unsigned Status;
  };
  // 404: past the checks, the host is unknown.
  const TCase Cases[] = {
      {{{"Authorization", Bearer}}, 404},
      {{{"Authorization", Bearer},
        {"Host", "localhost:" + Port},
        {"Origin", "http://localhost:" + Port},
        {"Sec-Fetch-Site", "same-origin"}},
       404},
      {{}, 401},
      {{{"Authorization", "Bearer errado"}}, 401},
      {{{"Authorization", Bearer}, {"Host", "rebind.example:" + Port}}, 403},
      {{{"Authorization", Bearer}, {"Origin", "http://evil.example"}}, 403},
      {{{"Authorization", Bearer}, {"Sec-Fetch-Site", "cross-site"}}, 403},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Headers.empty() ? "" : Case.Headers.back().second);
    const auto Answer = HttpRequest(Server->Port(), "POST", "/admin/hosts/555000444/offer", "x",
                                    false, Case.Headers);
    EXPECT_EQ(Answer.Status, Case.Status);
  }
  EXPECT_EQ(HttpRequest(Server->Port(), "GET", "/admin/status").Header("www-authenticate"),
            "Bearer");

  auto Options = TestOptions();
  Options.AdminToken.clear();
  TRelayServer Off(Options);
  EXPECT_EQ(AdminRequest(Off.Port(), "GET", "/admin/status").Status, 403u);
}

TEST(RelayAdmin, ChecksPeerNameOriginAndToken) {
  TRelayStore Store(":memory:");
  TRelayRegistry Registry(Store, {});
  TRelayHttp Http(Registry, Store, "", "", "segredo");
  struct TCase {
    std::string Host, Origin, FetchSite, Authorization;
    bool Loopback;
    unsigned Status;
  };
  const TCase Cases[] = {
      {"127.0.0.1:8080", "", "", "Bearer segredo", true, 200},
      {"127.0.0.1:8080", "", "", "Bearer segredo", false, 403},
      {"127.0.0.1", "", "", "bearer  segredo ", true, 200},
      {"LocalHost:8080", "", "none", "Bearer segredo", true, 200},
      {"[::1]:8080", "http://[::1]:8080", "same-origin", "Bearer segredo", true, 200},
      {"[::1]", "https://127.0.0.1:8080", "", "Bearer segredo", true, 200},
      {"127.0.0.1:8080", "", "", "Bearer segred", true, 401},
      {"127.0.0.1:8080", "", "", "Bearer segredo2", true, 401},
      {"127.0.0.1:8080", "", "", "Basic c2VncmVkbw==", true, 401},
      {"127.0.0.1:8080", "", "", "segredo", true, 401},
      {"", "", "", "Bearer segredo", true, 403},
      {"127.0.0.1:9090", "", "", "Bearer segredo", true, 403},
      {"localhost:", "", "", "Bearer segredo", true, 403},
      {"127.0.0.2:8080", "", "", "Bearer segredo", true, 403},
      {"127.0.0.1.nip.io:8080", "", "", "Bearer segredo", true, 403},
      {"::1", "", "", "Bearer segredo", true, 403},
      {"127.0.0.1:8080", "null", "", "Bearer segredo", true, 403},
      {"127.0.0.1:8080", "http://127.0.0.1:8080.evil.example", "", "Bearer segredo", true, 403},
      {"127.0.0.1:8080", "http://127.0.0.1:9090", "", "Bearer segredo", true, 403},
      {"127.0.0.1:8080", "", "same-site", "Bearer segredo", true, 403},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Host + " " + Case.Origin + " " + Case.FetchSite + " " + Case.Authorization);
    const THttpRequest Request{.Method = "GET",
                               .Target = "/admin/status",
                               .Body = "",
                               .Host = Case.Host,
                               .Origin = Case.Origin,
                               .FetchSite = Case.FetchSite,
                               .Authorization = Case.Authorization,
                               .Loopback = Case.Loopback,
                               .LocalPort = 8080};
    EXPECT_EQ(Http.Handle(Request).Status, Case.Status);
  }

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

TEST(RelayAdmin, ReadsTheTokenFromItsFile) {
  TTempFolder Folder;
  Folder.Write("token", "  abc-123\n");
  Folder.Write("vazio", " \n");
  const std::string File = (Folder.Path() / "token").string();
  EXPECT_EQ(LoadAdminToken("", File), "abc-123");
  EXPECT_EQ(LoadAdminToken("direto", ""), "direto");
  EXPECT_EQ(LoadAdminToken("", ""), "");
  EXPECT_THROW(LoadAdminToken("", (Folder.Path() / "vazio").string()), std::runtime_error);
  EXPECT_THROW(LoadAdminToken("", (Folder.Path() / "falta").string()), std::runtime_error);
}

}  // namespace
}  // namespace halvora::relay::test
