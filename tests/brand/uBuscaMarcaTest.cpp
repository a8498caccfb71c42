// Lookups at the reference relay's brand service and at a loopback server that stalls or
// answers badly; the brand service's lifetime.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "brand/uBrandService.h"
#include "brand/uHttpClient.h"
#include "brand/uMarca.h"
#include "support/uTestFiles.h"
#include "support/uTestLoop.h"
#include "uBrandTestKit.h"

namespace halvora {
namespace {

using namespace std::chrono_literals;
using test::Answer;
using test::AsString;
using test::FolderEntries;
using test::MakePng;
using test::ReadFile;
using test::TBrandRelay;
using test::THttpReply;
using test::TLoopbackHttp;
using test::WriteFile;

const std::string Bom = "\xEF\xBB\xBF";

THttpOptions Timeouts(std::chrono::milliseconds AConnect, std::chrono::milliseconds AResponse) {
  THttpOptions Options;
  Options.ConnectTimeout = AConnect;
  Options.ResponseTimeout = AResponse;
  return Options;
}

// Short enough that every time-out case ends quickly.
THttpOptions Quick() {
  return Timeouts(300ms, 300ms);
}

// Ample for loopback on a busy machine: a lookup that should report must not time out.
THttpOptions Ample() {
  return Timeouts(10s, 10s);
}

struct TReport {
  std::string Code, Name;
  TIdBytes Logo;
  bool OnMainThread;
  bool LookupWaiting;  // its thread had not ended: the report runs while the lookup waits
};

class BrandLookup : public ::testing::Test {
 protected:
  // Runs one lookup to its end on the test loop; what it reported.
  std::vector<TReport> Lookup(const std::string& AUrl, const std::string& ACode,
                              THttpOptions AOptions = Ample()) {
    std::vector<TReport> Reports;
    bool Ended = false;
    const auto Main = std::this_thread::get_id();
    TBuscaMarca* Self = nullptr;
    TBuscaMarca Lookup(
        AUrl, ACode, Cache,
        [&](const std::string& ACodeFound, const std::string& AName, const TIdBytes& ALogo) {
          Reports.push_back(
              {ACodeFound, AName, ALogo, std::this_thread::get_id() == Main, !Self->Finished()});
        },
        AOptions, Loop.Queue(), [&] { Ended = true; });
    Self = &Lookup;
    EXPECT_TRUE(Loop.RunUntil([&] { return Ended; }));
    return Reports;
  }

  // A cache entry for ACode as an earlier run left it.
  void Seed(const std::string& ACode) {
    WriteFile(Cache + "marca-" + ACode + ".txt", Bom + "Antigo\r\n");
    WriteFile(Cache + "marca-" + ACode + ".png", OldLogo);
  }
  void ExpectSeedUntouched(const std::string& ACode) {
    EXPECT_EQ(ReadFile(Cache + "marca-" + ACode + ".txt"), Bom + "Antigo\r\n");
    EXPECT_EQ(ReadFile(Cache + "marca-" + ACode + ".png"), OldLogo);
  }

  test::TTestLoop Loop;
  test::TTempFolder Root;
  const std::string Cache = Root.Path("cache/");
  const std::string OldLogo = AsString(MakePng(8, 8, 0x000000));
};

// --- the reference relay ---

TEST_F(BrandLookup, ANameWithALogoIsCachedAndReportedOnTheMainThread) {
  TBrandRelay Relay;
  const TIdBytes Logo = MakePng(40, 40);
  Relay.AddBrand("acme01", Bom + "Acme Suporte Ltda\n", Logo);
  const auto Reports = Lookup(Relay.Url(), "acme01");
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_EQ(Reports[0].Code, "acme01");
  EXPECT_EQ(Reports[0].Name, "Acme Suporte Ltda");
  EXPECT_EQ(Reports[0].Logo, Logo);
  EXPECT_TRUE(Reports[0].OnMainThread);
  EXPECT_TRUE(Reports[0].LookupWaiting);
  EXPECT_EQ(ReadFile(Cache + "marca-acme01.txt"), Bom + "Acme Suporte Ltda\r\n");
  EXPECT_EQ(ReadFile(Cache + "marca-acme01.png"), AsString(Logo));
}

TEST_F(BrandLookup, WithoutALogoTheNameIsStoredAndAnOlderLogoDeleted) {
  TBrandRelay Relay;
  Relay.AddBrand("semlogo", "Só Nome");
  Seed("semlogo");
  const auto Reports = Lookup(Relay.Url(), "semlogo");
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_EQ(Reports[0].Name, "Só Nome");
  EXPECT_TRUE(Reports[0].Logo.empty());
  EXPECT_EQ(FolderEntries(Cache), std::vector<std::string>{"marca-semlogo.txt"});
  EXPECT_EQ(ReadFile(Cache + "marca-semlogo.txt"), Bom + "Só Nome\r\n");
}

TEST_F(BrandLookup, AnUnknownCodeChangesNothingAndReportsNothing) {
  TBrandRelay Relay;
  Seed("sumiu1");
  EXPECT_TRUE(Lookup(Relay.Url(), "sumiu1").empty());
  ExpectSeedUntouched("sumiu1");
  EXPECT_EQ(FolderEntries(Cache),
            (std::vector<std::string>{"marca-sumiu1.png", "marca-sumiu1.txt"}));
}

TEST_F(BrandLookup, TheServerCertificateIsVerified) {
  TBrandRelay Relay(true);
  Relay.AddBrand("acme01", "Acme");
  EXPECT_TRUE(Lookup(Relay.Url(), "acme01").empty());  // the test authority is not trusted
  EXPECT_FALSE(std::filesystem::exists(Cache));
  THttpOptions Trusting = Ample();
  Trusting.CaFile = Relay.CaFile();
  const auto Reports = Lookup(Relay.Url(), "acme01", Trusting);
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_EQ(Reports[0].Name, "Acme");
}

// --- answers that are not a brand ---

TEST_F(BrandLookup, AnswersThatAreNotABrandReportNothingAndKeepTheCache) {
  const std::pair<const char*, THttpReply> Cases[] = {
      {"not JSON", Answer(200, "<html>Acme</html>", "text/html")},
      {"a JSON array", Answer(200, R"(["Acme"])")},
      {"no name", Answer(200, R"({"tem_logo": true})")},
      {"a name that is not text", Answer(200, R"({"nome": 5, "tem_logo": true})")},
      {"an empty name", Answer(200, R"({"nome": "", "tem_logo": true})")},
      {"status 500", Answer(500, R"({"nome": "Acme", "tem_logo": true})")},
      {"status 301", Answer(301, R"({"nome": "Acme"})")},
      {"a body over the limit", Answer(200, R"({"nome": "Acme", "x": ")" +
                                                std::string(THttpOptions().MaxBody, 'x') + "\"}")},
  };
  for (const auto& [Name, Reply] : Cases) {
    SCOPED_TRACE(Name);
    TLoopbackHttp Server([&Reply](const std::string&) { return Reply; });
    Seed("acme01");
    EXPECT_TRUE(Lookup(Server.Url(), "acme01").empty());
    ExpectSeedUntouched("acme01");
    EXPECT_EQ(Server.Targets(), std::vector<std::string>{"/v1/marca/acme01"});
  }
}

TEST_F(BrandLookup, ALogoThatCannotBeUsedLeavesTheNameWithoutALogo) {
  const std::string Png = AsString(MakePng(40, 40));
  const std::pair<const char*, THttpReply> Cases[] = {
      {"not a PNG", Answer(200, "GIF89a", "image/png")},
      {"a PNG cut short", Answer(200, Png.substr(0, Png.size() - 20), "image/png")},
      {"status 404", Answer(404, "")},
      {"an empty body", Answer(200, "", "image/png")},
      {"a stall", test::Stall()},
  };
  for (const auto& [Name, Reply] : Cases) {
    SCOPED_TRACE(Name);
    TLoopbackHttp Server([&Reply](const std::string& ATarget) {
      return ATarget.ends_with("/logo") ? Reply : Answer(200, R"({"nome":"Acme","tem_logo":true})");
    });
    Seed("acme01");
    const auto Reports = Lookup(Server.Url(), "acme01", Timeouts(10s, 1s));
    ASSERT_EQ(Reports.size(), 1u);
    EXPECT_EQ(Reports[0].Name, "Acme");
    EXPECT_TRUE(Reports[0].Logo.empty());
    EXPECT_EQ(FolderEntries(Cache), std::vector<std::string>{"marca-acme01.txt"});
    EXPECT_EQ(ReadFile(Cache + "marca-acme01.txt"), Bom + "Acme\r\n");
    EXPECT_EQ(Server.Targets(),
              (std::vector<std::string>{"/v1/marca/acme01", "/v1/marca/acme01/logo"}));
  }
}

TEST_F(BrandLookup, TheBodyIsUtf8WhateverItDeclaresAndOnlyABooleanAsksForTheLogo) {
  TLoopbackHttp Server([](const std::string&) {
    return Answer(200, "{\"nome\": \"Ação \xE9\", \"tem_logo\": \"true\"}",
                  "application/json; charset=iso-8859-1");
  });
  const auto Reports = Lookup(Server.Url(), "acme01");
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_EQ(Reports[0].Name, "Ação \xEF\xBF\xBD");
  EXPECT_EQ(Server.Targets(), std::vector<std::string>{"/v1/marca/acme01"});
}

// --- time-outs ---

TEST_F(BrandLookup, TimeOutsEndTheLookupWithoutAReport) {
  TLoopbackHttp Stalls([](const std::string&) { return test::Stall(); });
  TLoopbackHttp Trickles([](const std::string&) { return test::Trickle(); });
  // A TLS handshake that never ends, an answer that never comes, one that never ends.
  for (const std::string& Url : {Stalls.SecureUrl(), Stalls.Url(), Trickles.Url()}) {
    SCOPED_TRACE(Url);
    Seed("acme01");
    EXPECT_TRUE(Lookup(Url, "acme01", Quick()).empty());
    ExpectSeedUntouched("acme01");
  }
}

// Each time-out bounds its own phase: a long one for the other phase must not matter. A
// guard aborts a request that runs far past its time-out, so a fault cannot hang the test.
TEST(THttpClient, EachTimeOutBoundsItsOwnPhase) {
  TLoopbackHttp Stalls([](const std::string&) { return test::Stall(); });
  TLoopbackHttp Trickles([](const std::string&) { return test::Trickle(); });
  struct TCase {
    std::string Url;
    std::chrono::milliseconds Connect, Response;
  };
  const TCase Cases[] = {
      {Stalls.SecureUrl(), 200ms, 1h}, {Stalls.Url(), 1h, 200ms}, {Trickles.Url(), 1h, 300ms}};
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Url);
    THttpClient Client(Timeouts(Case.Connect, Case.Response));
    auto Result = std::async(std::launch::async, [&] { return Client.Get(Case.Url); });
    if (Result.wait_for(20s) != std::future_status::ready) {
      ADD_FAILURE() << "no time-out";
      Client.Abort();
    }
    EXPECT_EQ(Result.get().Error, THttpError::heTimeout);
  }
}

TEST(THttpClient, AbortEndsTheRunningRequestAndEveryLaterOne) {
  TLoopbackHttp Stalls([](const std::string&) { return test::Stall(); });
  THttpClient Client(Timeouts(1h, 1h));
  auto Result = std::async(std::launch::async, [&] { return Client.Get(Stalls.Url()); });
  ASSERT_TRUE(test::WaitUntil([&] { return !Stalls.Targets().empty(); }));
  Client.Abort();
  EXPECT_EQ(Result.get().Error, THttpError::heAborted);
  EXPECT_EQ(Client.Get(Stalls.Url()).Error, THttpError::heAborted);
  EXPECT_EQ(Stalls.Connections(), 1u);
}

// --- codes from the network ---

TEST_F(BrandLookup, ACodeReachesThePathPercentEncodedAndOnlyASafeCodeIsCached) {
  struct TCase {
    std::string Code, Target;
  };
  const TCase Cases[] = {
      {"../evil", "/v1/marca/%2E%2E%2Fevil"},
      {"..", "/v1/marca/%2E%2E"},
      {"a\\b/c?d#e", "/v1/marca/a%5Cb%2Fc%3Fd%23e"},
      {"x\r\nHost: y", "/v1/marca/x%0D%0AHost%3A%20y"},
      {"ação", "/v1/marca/a%C3%A7%C3%A3o"},
      {"%2e", "/v1/marca/%252e"},
      {"Acme-1_x", "/v1/marca/Acme-1_x"},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Code);
    TLoopbackHttp Server([](const std::string&) { return Answer(200, R"({"nome":"Acme"})"); });
    const auto Reports = Lookup(Server.Url(), Case.Code);
    ASSERT_EQ(Reports.size(), 1u);  // the name still shows
    EXPECT_EQ(Reports[0].Code, Case.Code);
    EXPECT_EQ(Server.Targets(), std::vector<std::string>{Case.Target});
    const bool Safe = IsSafeBrandCode(Case.Code);
    EXPECT_EQ(FolderEntries(Root.Path("")),
              Safe ? std::vector<std::string>{"cache"} : std::vector<std::string>{});
    std::filesystem::remove_all(Cache);
  }
}

// --- the service ---

TEST(TBrandService, RunsLookupsOfBothKindsSideBySideAndReleasesThemOnceEnded) {
  test::TTestLoop Loop;
  test::TTempFolder Root;
  TBrandRelay Relay;
  Relay.AddBrand("acme01", "Acme");
  Relay.AddBrand("outra1", "Outra");
  TBrandService Service(Ample(), Loop.Queue());
  std::vector<std::string> Names;
  const auto Report = [&](const std::string&, const std::string& AName, const TIdBytes&) {
    Names.push_back(AName);
  };
  Service.BuscarMarca(TBrandLookup::blHost, "", "acme01", Root.Path(""), Report);
  Service.BuscarMarca(TBrandLookup::blSession, Relay.Url(), "", Root.Path(""), Report);
  EXPECT_EQ(Service.Running(), 0u);
  Service.BuscarMarca(TBrandLookup::blHost, Relay.Url(), "acme01", Root.Path(""), Report);
  Service.BuscarMarca(TBrandLookup::blSession, Relay.Url(), "outra1", Root.Path(""), Report);
  EXPECT_EQ(Service.Running(), 2u);
  ASSERT_TRUE(Loop.RunUntil([&] { return Service.Running() == 0; }));
  std::sort(Names.begin(), Names.end());
  EXPECT_EQ(Names, (std::vector<std::string>{"Acme", "Outra"}));
  std::string Name;
  TIdBytes Logo;
  EXPECT_TRUE(Service.CarregarMarca(Root.Path(""), "outra1", Name, Logo));
  EXPECT_EQ(Name, "Outra");
}

// The program ends with lookups in flight: one waiting for the network, one waiting for the
// main thread to take its report. Neither holds up the end, and no report runs afterwards.
TEST(TBrandService, DestructionEndsLookupsInFlightWithoutReports) {
  test::TTestLoop Loop;
  test::TTempFolder Root;
  TLoopbackHttp Stalls([](const std::string&) { return test::Stall(); });
  TLoopbackHttp Answers([](const std::string&) { return Answer(200, R"({"nome":"Acme"})"); });
  int Reports = 0;
  const auto Report = [&](const std::string&, const std::string&, const TIdBytes&) { ++Reports; };
  // Time-outs far beyond the guard below: only cancellation can end the first lookup in time.
  auto Service = std::make_unique<TBrandService>(Timeouts(60s, 60s), Loop.Queue());
  Service->BuscarMarca(TBrandLookup::blHost, Stalls.Url(), "acme01", Root.Path(""), Report);
  Service->BuscarMarca(TBrandLookup::blSession, Answers.Url(), "acme02", Root.Path(""), Report);
  // The second lookup has cached its answer and waits for its report to run.
  ASSERT_TRUE(test::WaitUntil(
      [&] { return !Stalls.Targets().empty() && Loop.Queue().PendingCount() == 1; }));
  const auto Started = std::chrono::steady_clock::now();
  Service.reset();  // on the main thread, as the program does
  EXPECT_LT(std::chrono::steady_clock::now() - Started, 30s);
  EXPECT_EQ(Loop.Queue().PendingCount(), 0u);
  EXPECT_EQ(Loop.RunPending(), 0u);
  EXPECT_EQ(Reports, 0);
}

}  // namespace
}  // namespace halvora
