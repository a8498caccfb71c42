// A headless host end to end on loopback: a real WebSocket server plays relay and viewer.
#include <gtest/gtest.h>

#include <regex>

#include "protocol/beast/uBeastTransport.h"
#include "protocol/uProtocol.h"
#include "support/uHostHarness.h"
#include "support/uSha256.h"
#include "support/uTestWsServer.h"

namespace halvora {
namespace {

using namespace std::chrono_literals;

const std::string StoredKey = "0123456789abcdef0123456789abcdef0123456789abcdef";

TIdBytes Frame(std::uint8_t ACmd, std::string_view AText = {}) {
  TIdBytes Result(AText.size() + 1, ACmd);
  std::copy(AText.begin(), AText.end(), Result.begin() + 1);
  return Result;
}

class HostOverLoopback : public ::testing::Test, public test::THostHarness {
 protected:
  void SetUp() override {
    WriteSettings("[Server]\nUrl=ws://127.0.0.1:" + std::to_string(Server.Port()) +
                  "/relay\n[Client]\nId=123456789\nKey=" + StoredKey + "\n");
    TMainEnvironment Env = Environment();
    Env.Relay.Transports = std::make_shared<TBeastTransportFactory>();
    Start(std::move(Env));
    Viewer = Server.Accept();
    ASSERT_TRUE(Viewer);
    ASSERT_EQ(Next(), Frame(cmdHello, "2|C|123456789|" + StoredKey));
    ASSERT_TRUE(RunUntil([&] { return Host->Status() == "Registrando no servidor..."; }));
  }

  // The next message the host sent, while the main loop keeps running.
  TIdBytes Next() {
    TIdBytes Message;
    RunUntil([&] { return Viewer->Read(Message, 1ms); });
    return Message;
  }
  void Send(std::uint8_t ACmd, std::string_view AText = {}) {
    ASSERT_TRUE(Viewer->SendBinary(Frame(ACmd, AText)));
  }
  void WaitStatus(const std::string& AText) {
    EXPECT_TRUE(RunUntil([&] { return Host->Status() == AText; })) << Host->Status();
  }
  // Asks for access and returns the challenge.
  std::string Challenge() {
    Send(cmdAccessRequest, "987654321|Fulano|");
    const TIdBytes Message = Next();
    EXPECT_EQ(Message.at(0), cmdChallenge);
    return std::string(Message.begin() + 1, Message.end());
  }
  // Fifteen ticks make a keep-alive: as the next message it shows that nothing came before.
  void ExpectNothingThenKeepAlive() {
    Ticks(15);
    EXPECT_EQ(Next(), TIdBytes{cmdKeepAlive});
  }

  test::TTestWsServer Server;
  std::shared_ptr<test::TTestWsConnection> Viewer;
};

TEST_F(HostOverLoopback, RegistersKeepsAliveAndSavesItsNewId) {
  Send(cmdWelcome, "555666777");
  WaitStatus("Pronto. Aguardando o atendente.");
  EXPECT_NE(ReadSettings().find("Id=555666777"), std::string::npos);
  EXPECT_EQ(Host->Model().lblId.Text, "555 666 777");
  Ticks(14);
  ExpectNothingThenKeepAlive();  // none before the 15th tick... and then one
}

TEST_F(HostOverLoopback, AdmitsOnTheRightProofAndRefusesAWrongOne) {
  std::string Nonce = Challenge();
  EXPECT_TRUE(std::regex_match(Nonce, std::regex("[0-9a-f]{32}")));
  WaitStatus("Fulano está pedindo acesso...");
  std::string Wrong = test::Sha256Hex(Nonce + ":" + Host->Password());
  Wrong[0] = Wrong[0] == '0' ? '1' : '0';
  Send(cmdProof, Wrong);
  EXPECT_EQ(Next(), (TIdBytes{cmdAccessResult, 0}));
  EXPECT_EQ(Next(), TIdBytes{cmdHostEnd});
  WaitStatus("Tentativa de conexão recusada: senha incorreta.");

  Nonce = Challenge();
  Send(cmdProof, test::Sha256Hex(Nonce + ":" + Host->Password()));
  EXPECT_EQ(Next(), TIdBytes{cmdProofAccepted});
  EXPECT_EQ(Next(), (TIdBytes{cmdAccessResult, 1}));
  WaitStatus("Este computador está sendo controlado por Fulano.");

  // The technician ends the session: no message 7.
  Send(cmdSessionEnded);
  WaitStatus("Sessão encerrada pelo atendente.");
  ExpectNothingThenKeepAlive();
}

TEST_F(HostOverLoopback, FiveWrongProofsRenewThePassword) {
  const std::string First = Host->Password();
  for (int I = 0; I < 5; ++I) {
    Challenge();
    Send(cmdProof, "errada");
    EXPECT_EQ(Next(), (TIdBytes{cmdAccessResult, 0}));
    EXPECT_EQ(Next(), TIdBytes{cmdHostEnd});
  }
  WaitStatus("Muitas tentativas com senha incorreta. Uma nova senha foi gerada.");
  EXPECT_NE(Host->Password(), First);
  EXPECT_EQ(ReadSettings().find(Host->Password()), std::string::npos);
}

TEST_F(HostOverLoopback, AnUnansweredChallengeLapsesAfter30s) {
  Challenge();
  Ticks(29);
  Clock.Advance(999);
  Host->tmrTickTimer();  // 29.999 s: still open
  EXPECT_EQ(Host->Role(), TSessionRole::srHostAuth);
  Clock.Advance(1);
  Host->tmrTickTimer();                       // 30 s
  EXPECT_EQ(Next(), TIdBytes{cmdKeepAlive});  // the 15th and 30th ticks' keep-alives
  EXPECT_EQ(Next(), TIdBytes{cmdKeepAlive});
  EXPECT_EQ(Next(), TIdBytes{cmdHostEnd});
  WaitStatus("A conexão não foi concluída a tempo.");
}

TEST_F(HostOverLoopback, TrustedAccessNeedsNoProofAndALostLinkEndsTheSessionSilently) {
  Send(cmdTrustedAccess, "987654321|Empresa|");
  EXPECT_EQ(Next(), (TIdBytes{cmdAccessResult, 1}));
  WaitStatus("Este computador está sendo controlado por Empresa.");

  Viewer->Drop();
  WaitStatus("Sem conexão com o servidor. Tentando reconectar...");
  EXPECT_EQ(Host->Role(), TSessionRole::srNone);
  ASSERT_TRUE(Clock.WaitForWaits(1));  // the client waits before its next attempt
  Clock.Advance(3000);
  Viewer = Server.Accept();
  ASSERT_TRUE(Viewer);
  EXPECT_EQ(Next(), Frame(cmdHello, "2|C|123456789|" + StoredKey));
  WaitStatus("Registrando no servidor...");
  ExpectNothingThenKeepAlive();
}

}  // namespace
}  // namespace halvora
