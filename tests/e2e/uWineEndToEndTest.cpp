// The Windows test host under Wine against the Linux relay and viewer: registration, the
// settings file it keeps, admission by proof, a blocking request answered, the link coming
// back after the relay dies, TLS with a certificate the system trusts, and the brand service.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "e2e/uEndToEndFixture.h"
#include "protocol/wine/uWineTransport.h"
#include "support/uTestPki.h"

namespace halvora::test {
namespace {

// The Windows user's application data folder in the Wine prefix.
std::string WineAppData() {
  for (const auto& User : std::filesystem::directory_iterator(HALVORA_WINE_PREFIX "/drive_c/users"))
    if (User.path().filename() != "Public") return User.path().string() + "/AppData/Roaming";
  throw std::runtime_error("the Wine prefix has no user");
}

// A path of this machine as a program under Wine names it (the root is drive Z:).
std::string WinePath(const std::string& APath) {
  std::string Result = "Z:" + APath;
  std::replace(Result.begin(), Result.end(), '/', '\\');
  return Result;
}

THostLaunch WineHost() {
  THostLaunch Launch;
  Launch.Program = HALVORA_WINE_LOADER;
  Launch.Args = {HALVORA_WINE_TESTHOST};
  Launch.Environment = {"WINEPREFIX=" HALVORA_WINE_PREFIX, "WINEDEBUG=-all"};
  Launch.SettingsFile = WineAppData() + "/Halvora/Halvora.ini";
  Launch.HostPath = WinePath;
  return Launch;
}

class WineEndToEnd : public TEndToEndTest {
 protected:
  // Every test starts as a computer that never met a relay.
  void SetUp() override { std::filesystem::remove(WineHost().SettingsFile); }

  std::unique_ptr<THostProcess> StartHost(const TRelayProcess& ARelay) {
    return std::make_unique<THostProcess>(Folder("host"), WineHost(), ARelay.Url());
  }
};

TEST_F(WineEndToEnd, RegistersKeepsItsSettingsAndAdmitsOnlyTheRightProof) {
  auto Relay = StartRelay();
  const std::string Settings = WineHost().SettingsFile;
  WriteFile(Settings, "; kept\r\n[Server]\r\nUrl=" + Relay->Url() + "\r\n[Outra]\r\nNome=Ana\r\n");
  auto Host = StartHost(*Relay);
  ASSERT_TRUE(Host->WaitState(IsReady)) << Host->State().dump();
  const std::string Id = Host->State()["id"], Password = Host->State()["password"];

  const std::string Text = ReadFile(Settings);
  EXPECT_NE(Text.find("\r\nId=" + Id + "\r\n"), std::string::npos) << Text;
  EXPECT_TRUE(std::regex_search(Text, std::regex("\r\nKey=[0-9a-f]{48}\r\n"))) << Text;
  for (const std::string Kept : {"; kept\r\n", "[Outra]\r\nNome=Ana\r\n"})
    EXPECT_NE(Text.find(Kept), std::string::npos) << Kept << " in " << Text;
  for (const char C : Text)
    EXPECT_TRUE(static_cast<unsigned char>(C) >= 0x20 || C == '\r' || C == '\n')
        << "control character " << int(C);

  auto Wrong = Viewer(*Relay, {"--id", Id, "--password", "errada"}, "");
  EXPECT_EQ(Wrong->Wait(), 4) << Wrong->Output();

  auto Right = Viewer(*Relay, {"--id", Id, "--password", Password, "--name", "Fulano"},
                      "block 1\nwait-for 110 5000\nend\n");
  EXPECT_EQ(Right->Wait(), 0) << Right->Output();
  // Nothing blocks input on this host yet, and it says so.
  EXPECT_NE(Right->Log().find(" 110 1 flag=0"), std::string::npos) << Right->Log();
  EXPECT_TRUE(Host->WaitState([](const nlohmann::json& S) {
    return S["role"] == srNone && S["status"] == "Sessão encerrada pelo atendente.";
  })) << Host->State().dump();
}

TEST_F(WineEndToEnd, ComesBackWithItsIdWithinThreeSecondsOfTheRelay) {
  auto Relay = StartRelay();
  const std::uint16_t Port = Relay->Port();
  auto Host = StartHost(*Relay);
  ASSERT_TRUE(Host->WaitState(IsReady)) << Host->State().dump();
  const std::string Id = Host->State()["id"];

  Relay->Kill(SIGKILL);
  ASSERT_TRUE(Host->WaitState([](const nlohmann::json& S) {
    return S["status"] == "Sem conexão com o servidor. Tentando reconectar...";
  })) << Host->State().dump();
  Relay = StartRelay(Port);
  const auto Back = std::chrono::steady_clock::now();
  ASSERT_TRUE(Host->WaitState(IsReady, 10s)) << Host->State().dump();
  EXPECT_LT(std::chrono::steady_clock::now() - Back, 4500ms) << "reconnects every 3 s";
  EXPECT_EQ(Host->State()["id"], Id);
}

// Over TLS, with a certificate for localhost from a CA that the Wine prefix trusts meanwhile:
// the host registers and the viewer, trusting the same CA, is admitted.
TEST_F(WineEndToEnd, WorksOverTlsWithACertificateTheSystemTrusts) {
  const TTestPki Pki = MakeTestPki({"localhost"}, {});
  const std::string Tls = Folder("tls");
  WriteFile(Tls + "/ca.pem", Pki.CaCertPem);
  WriteFile(Tls + "/cert.pem", Pki.ServerCertPem);
  WriteFile(Tls + "/key.pem", Pki.ServerKeyPem);
  const TWineTransportFactory Trust(Pki.CaCertPem);
  auto Relay =
      StartRelay(0, {"--tls-cert", Tls + "/cert.pem", "--tls-key", Tls + "/key.pem"});
  auto Host = std::make_unique<THostProcess>(Folder("host"), WineHost(), Relay->SecureUrl());
  ASSERT_TRUE(Host->WaitState(IsReady)) << Host->State().dump();
  const nlohmann::json S = Host->State();
  auto Technician = std::make_unique<TViewerProcess>(
      Folder("viewers"), Relay->SecureUrl(),
      std::vector<std::string>{"--id", S["id"], "--password", S["password"], "--ca",
                               Tls + "/ca.pem"},
      "end\n");
  EXPECT_EQ(Technician->Wait(), 0) << Technician->Output();
}

// The brand announced by the relay is looked up at its brand service over WinHTTP: the name
// (UTF-8) and the logo reach the window and the cache beside the settings file.
TEST_F(WineEndToEnd, LooksUpTheAnnouncedBrandAtTheBrandService) {
  const std::string Brands = Folder("brands");
  WriteFile(Brands + "/acme01/nome.txt", "Acme Suporte Técnico\n");
  const std::string Logo = ReadFile(HALVORA_TEST_LOGO);
  WriteFile(Brands + "/acme01/logo.png", Logo);
  auto Relay = StartRelay(0, {"--brand", "acme01|Acme", "--brands", Brands});
  auto Host = StartHost(*Relay);
  ASSERT_TRUE(Host->WaitState([](const nlohmann::json& S) {
    return S["title"] == "Acme Suporte Técnico";
  })) << Host->State().dump();
  const std::string Cache = WineAppData() + "/Halvora/marca-acme01";
  EXPECT_EQ(ReadFile(Cache + ".txt"), "\xEF\xBB\xBF" "Acme Suporte Técnico\r\n");
  EXPECT_EQ(ReadFile(Cache + ".png"), Logo);
}

}  // namespace
}  // namespace halvora::test
