#include "uViewer.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <sstream>

#include "support/uTestFiles.h"
#include "support/uTestPki.h"
#include "support/uTestWsServer.h"
#include "uViewerTestImages.h"

namespace halvora::viewer {
namespace {

using halvora::test::ReadFile;
using halvora::test::TTempFolder;
using halvora::test::TTestWsConnection;
using halvora::test::TTestWsServer;
using halvora::test::WriteFile;

// The proof of this nonce and password, computed independently (sha256sum).
constexpr char Nonce[] = "0123456789abcdef0123456789abcdef";
constexpr char HostPassword[] = "senhaç9";
constexpr char Proof[] = "daf17b43b82f7a995c24d5c7c3a202a0fcc2a131019db133891aa4ea2d32108a";

TBytes Msg(std::uint8_t ACmd, const TBytes& APayload = {}) {
  TBytes Message;
  Message.reserve(APayload.size() + 1);
  Message.push_back(ACmd);
  Message.insert(Message.end(), APayload.begin(), APayload.end());
  return Message;
}

TBytes Msg(std::uint8_t ACmd, std::string_view AText) {
  return Msg(ACmd, TextToBytes(AText));
}

struct TRun {
  int Code = -1;
  std::string Out, Err;
};

TRun RunViewer(const TViewerOptions& AOptions) {
  std::ostringstream Out, Err;
  TViewer Viewer(AOptions, Out, Err);
  const int Code = Viewer.Run();
  return {Code, Out.str(), Err.str()};
}

// Plays relay and host up to the admission: with the password challenge, or trusted.
void LogIn(TTestWsConnection& AConn, bool AChallenge) {
  TBytes Message;
  ASSERT_TRUE(AConn.Read(Message));
  EXPECT_EQ(Message, Msg(1, "2|A|tok"));
  AConn.SendBinary(Msg(2));
  ASSERT_TRUE(AConn.Read(Message));
  EXPECT_EQ(Message, Msg(50, "123456789|Nome do técnico|Empresa"));
  AConn.SendBinary(Msg(51, "0|Conectado.|senha"));
  if (AChallenge) {
    AConn.SendBinary(Msg(100, Nonce));
    ASSERT_TRUE(AConn.Read(Message));
    EXPECT_EQ(Message, Msg(101, Proof));
  }
  AConn.SendBinary(Msg(102, TBytes{1}));
}

class ViewerRunTest : public testing::Test {
 protected:
  TViewerOptions Options(std::uint16_t APort, const std::string& AName,
                         const std::string& AScript) {
    TViewerOptions Result;
    Result.Relay = "ws://127.0.0.1:" + std::to_string(APort) + "/relay";
    Result.Id = "123456789";
    Result.Password = HostPassword;
    Result.HasPassword = true;
    Result.Token = "tok";
    Result.Name = "Nome do técnico";
    Result.Qualifier = "Empresa";
    Result.OutDir = Temp.Path(AName);
    Result.TimeoutSeconds = 20;  // every run ends, whatever happens
    if (!AScript.empty()) {
      Result.ScriptFile = Temp.Path(AName + ".script");
      WriteFile(Result.ScriptFile, AScript);
    }
    return Result;
  }

  static std::future<TRun> Start(const TViewerOptions& AOptions) {
    return std::async(std::launch::async, [AOptions] { return RunViewer(AOptions); });
  }

  static TRun Finish(std::future<TRun>& ARun) {
    EXPECT_EQ(ARun.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    return ARun.get();
  }

  TTempFolder Temp;
};

TEST_F(ViewerRunTest, RunsAScriptedSession) {
  TTestWsServer Server;
  auto Run = Start(Options(Server.Port(), "out", R"(# a whole session
wait-frames 2
click 0 63 0
type a1
key 0x25 down
monitor 1
block 1
clip-text olá mundo
sas
wait-for 111
snapshot
wait-for 6
)"));
  const auto Conn = Server.Accept();
  ASSERT_TRUE(Conn);
  ASSERT_NO_FATAL_FAILURE(LogIn(*Conn, true));
  Conn->SendBinary(Msg(107, TBytes{2, 0}));
  TBytes Message;
  for (const auto& Frame :
       {test::MakeFrame(0, 64, 64, {test::SolidTile(0, 0, 64, 64, {255, 0, 0})}),
        test::MakeFrame(1, 32, 32, {test::SolidTile(0, 0, 32, 32, {0, 0, 255})})}) {
    Conn->SendBinary(Msg(103, Frame));
    ASSERT_TRUE(Conn->Read(Message));
    EXPECT_EQ(Message, Msg(104));
  }
  const TBytes Expected[] = {
      Msg(105, TBytes{0, 0xFF, 0xFF, 0, 0, 1, 0, 0}),  // the right edge of a 64-pixel picture
      Msg(105, TBytes{0, 0xFF, 0xFF, 0, 0, 2, 0, 0}),
      Msg(106, TBytes{0x41, 0, 1}),
      Msg(106, TBytes{0x41, 0, 0}),
      Msg(106, TBytes{0x31, 0, 1}),
      Msg(106, TBytes{0x31, 0, 0}),
      Msg(106, TBytes{0x25, 0, 1}),
      Msg(108, TBytes{1}),
      Msg(109, TBytes{1}),
      Msg(111, "olá mundo"),
      Msg(116),
  };
  for (const auto& Next : Expected) {
    ASSERT_TRUE(Conn->Read(Message));
    EXPECT_EQ(Message, Next);
  }
  Conn->SendBinary(Msg(111, "texto do host"));
  Conn->SendBinary(Msg(6, "Sessão encerrada pelo host."));

  const TRun Result = Finish(Run);
  EXPECT_EQ(Result.Code, ecDone) << Result.Err;
  EXPECT_EQ(ReadFile(Temp.Path("out/clipboard.txt")), "texto do host");
  const std::string Log = ReadFile(Temp.Path("out/received.log"));
  for (const char* Line :
       {" 51 18 \"0|Conectado.|senha\"\n", " 102 1 flag=1\n", " 107 2 monitores=2 selecionado=0\n",
        " 103 ", "monitor=1 32x32 tiles=1\n", " 111 13 \"texto do host\"\n",
        " 6 28 \"Sessão encerrada pelo host.\"\n"})
    EXPECT_NE(Log.find(Line), std::string::npos) << Line << " not in\n" << Log;

  int Width = 0, Height = 0;
  std::vector<std::uint8_t> Rgb;
  ASSERT_TRUE(test::ReadPng(Temp.Path("out/monitor-0.png"), Width, Height, Rgb));
  EXPECT_EQ(std::pair(Width, Height), std::pair(64, 64));
  EXPECT_TRUE(test::Near({Rgb[0], Rgb[1], Rgb[2]}, {255, 0, 0}));
  ASSERT_TRUE(test::ReadPng(Temp.Path("out/monitor-1.png"), Width, Height, Rgb));
  EXPECT_TRUE(test::Near({Rgb[0], Rgb[1], Rgb[2]}, {0, 0, 255}));
}

TEST_F(ViewerRunTest, ExitCodeTellsHowTheRunEnded) {
  using TPlay = std::function<void(TTestWsConnection&)>;
  const auto Hello = [](TTestWsConnection& AConn) {
    TBytes Message;
    ASSERT_TRUE(AConn.Read(Message));
    AConn.SendBinary(Msg(2));
    ASSERT_TRUE(AConn.Read(Message));
  };
  const struct {
    const char* Name;
    std::string Script;
    TPlay Play;
    int Code;
    const char* Text;  // in the output for a person
  } Cases[] = {
      {"hello refused", "",
       [](TTestWsConnection& AConn) {
         TBytes Message;
         ASSERT_TRUE(AConn.Read(Message));
         AConn.SendBinary(Msg(10, "hello|Versão antiga.|"));
       },
       ecRelayRefused, "Versão antiga."},
      {"pairing refused", "",
       [&](TTestWsConnection& AConn) {
         Hello(AConn);
         AConn.SendBinary(Msg(51, "2|O computador está desligado.|"));
       },
       ecRelayRefused, "O computador está desligado."},
      {"wrong password", "",
       [&](TTestWsConnection& AConn) {
         Hello(AConn);
         AConn.SendBinary(Msg(51, "0|ok|senha"));
         AConn.SendBinary(Msg(100, Nonce));
         TBytes Message;
         ASSERT_TRUE(AConn.Read(Message));
         AConn.SendBinary(Msg(102, TBytes{0}));
       },
       ecPasswordRefused, "recusou a senha"},
      {"host ends the session", "wait-for 107\nwait 20000\n",
       [](TTestWsConnection& AConn) {
         LogIn(AConn, false);
         AConn.SendBinary(Msg(107, TBytes{1, 0}));
         AConn.SendBinary(Msg(6, "Fim."));
       },
       ecSessionEnded, "\"Fim.\" durante a linha 2 (wait 20000)"},
      {"relay drops the link", "wait 20000",
       [](TTestWsConnection& AConn) {
         LogIn(AConn, false);
         AConn.Drop();
       },
       ecNoConnection, "conexão com o relay foi perdida durante a linha 1"},
      {"frames do not come", "wait-frames 1 100",
       [](TTestWsConnection& AConn) { LogIn(AConn, false); }, ecScriptFailed,
       "linha 1 (wait-frames 1 100): tempo esgotado"},
      {"pointer before any picture", "move 0 1 1",
       [](TTestWsConnection& AConn) { LogIn(AConn, false); }, ecScriptFailed,
       "ainda não tem imagem"},
      {"session ends without a script", "",
       [](TTestWsConnection& AConn) {
         LogIn(AConn, false);
         AConn.SendBinary(
             Msg(103, test::MakeFrame(0, 8, 8, {test::SolidTile(0, 0, 8, 8, {1, 2, 3})})));
         TBytes Message;
         ASSERT_TRUE(AConn.Read(Message));
         EXPECT_EQ(Message, Msg(104));
         AConn.SendBinary(Msg(6, "Fim."));
       },
       ecDone, "Sessão encerrada pelo outro lado"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TTestWsServer Server;
    auto Run = Start(Options(Server.Port(), Case.Name, Case.Script));
    const auto Conn = Server.Accept();
    ASSERT_TRUE(Conn);
    Case.Play(*Conn);
    const TRun Result = Finish(Run);
    EXPECT_EQ(Result.Code, Case.Code) << Result.Out << Result.Err;
    EXPECT_NE((Result.Out + Result.Err).find(Case.Text), std::string::npos)
        << Result.Out << Result.Err;
  }
}

TEST_F(ViewerRunTest, WssChecksCertificateAndName) {
  const auto Pki = halvora::test::MakeTestPki({"localhost"}, {"127.0.0.1"});
  const auto Other = halvora::test::MakeTestPki({"outro.exemplo"}, {});
  WriteFile(Temp.Path("ca.pem"), Pki.CaCertPem);
  WriteFile(Temp.Path("other-ca.pem"), Other.CaCertPem);
  TTestWsServer Right({.Secure = true, .CertPem = Pki.ServerCertPem, .KeyPem = Pki.ServerKeyPem});
  TTestWsServer Wrong(
      {.Secure = true, .CertPem = Other.ServerCertPem, .KeyPem = Other.ServerKeyPem});
  const auto Secure = [&](std::uint16_t APort, const std::string& ACa) {
    TViewerOptions Result = Options(APort, "tls", "");
    Result.Relay = "wss://localhost:" + std::to_string(APort) + "/relay";
    Result.CaFile = ACa;
    return Result;
  };

  EXPECT_EQ(RunViewer(Secure(Right.Port(), "")).Code, ecNoConnection);  // unknown CA
  EXPECT_EQ(RunViewer(Secure(Wrong.Port(), Temp.Path("other-ca.pem"))).Code, ecNoConnection);

  auto Run = Start(Secure(Right.Port(), Temp.Path("ca.pem")));
  const auto Conn = Right.Accept();
  ASSERT_TRUE(Conn);
  EXPECT_EQ(Conn->ServerName(), "localhost");
  TBytes Message;
  ASSERT_TRUE(Conn->Read(Message));
  EXPECT_EQ(Message, Msg(1, "2|A|tok"));
  Conn->SendBinary(Msg(10, "hello|Recusado.|"));
  EXPECT_EQ(Finish(Run).Code, ecRelayRefused);
}

}  // namespace
}  // namespace halvora::viewer
