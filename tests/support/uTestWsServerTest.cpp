#include "support/uTestWsServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "protocol/beast/uBeastTransport.h"
#include "support/uTestPki.h"

// The test server as our own WebSocket client meets it: the client is the Beast transport, so
// this program compiles no WebSocket client of its own.
namespace halvora::test {
namespace {

TIdBytes Bytes(const std::string& AText) { return TIdBytes(AText.begin(), AText.end()); }

struct TMessage {
  bool Ok = true;
  TBufferType Type = TBufferType::btClose;  // of the last piece
  std::string Text;
};

// Receives the pieces of one message (or the close) and joins them.
TMessage ReadMessage(IRelayTransport& ATransport) {
  TMessage Result;
  TIdBytes Buffer(64 * 1024);
  for (;;) {
    std::size_t Read = 0;
    if (!ATransport.Receive(Buffer.data(), Buffer.size(), Read, Result.Type)) {
      Result.Ok = false;
      return Result;
    }
    Result.Text.append(Buffer.begin(), Buffer.begin() + static_cast<std::ptrdiff_t>(Read));
    if (Result.Type != TBufferType::btBinaryFragment && Result.Type != TBufferType::btUtf8Fragment)
      return Result;
  }
}

// One scripted round: client message, binary reply, fragmented text reply, server close.
void ExerciseRound(IRelayTransport& AClient, TTestWsConnection& AConnection) {
  const TIdBytes Hello = Bytes("hello");
  ASSERT_TRUE(AClient.Send(Hello));
  TIdBytes Message;
  ASSERT_TRUE(AConnection.Read(Message));
  EXPECT_EQ(Message, Hello);

  ASSERT_TRUE(AConnection.SendBinary(Bytes("binary")));
  TMessage Reply = ReadMessage(AClient);
  ASSERT_TRUE(Reply.Ok);
  EXPECT_EQ(Reply.Text, "binary");
  EXPECT_EQ(Reply.Type, TBufferType::btBinaryMessage);

  ASSERT_TRUE(AConnection.SendFragmented({Bytes("frag"), Bytes("men"), Bytes("ted")}, true));
  Reply = ReadMessage(AClient);
  ASSERT_TRUE(Reply.Ok);
  EXPECT_EQ(Reply.Text, "fragmented");
  EXPECT_EQ(Reply.Type, TBufferType::btUtf8Message);

  ASSERT_TRUE(AConnection.SendClose());
  Reply = ReadMessage(AClient);
  EXPECT_TRUE(Reply.Ok);
  EXPECT_EQ(Reply.Type, TBufferType::btClose);
  AClient.Close();
  EXPECT_TRUE(AConnection.WaitClosed());
  EXPECT_FALSE(AConnection.Read(Message));
}

TEST(TestWsServerTest, PlainRound) {
  TTestWsServer Server;
  TBeastTransportFactory Factory;
  const auto Client = Factory.NewTransport();
  ASSERT_TRUE(Client->Open("localhost", Server.Port(), "/relay?x=1", false));
  const auto Connection = Server.Accept();
  ASSERT_NE(Connection, nullptr);
  EXPECT_EQ(Connection->Target(), "/relay?x=1");
  EXPECT_EQ(Connection->UserAgent(), "Halvora");
  EXPECT_EQ(Connection->HostHeader(), "localhost:" + std::to_string(Server.Port()));
  EXPECT_EQ(Connection->ServerName(), "");
  ExerciseRound(*Client, *Connection);
}

TEST(TestWsServerTest, SecureRoundAndUntrustedCa) {
  const TTestPki Pki = MakeTestPki({"localhost"}, {"127.0.0.1"});
  TTestWsServer Server({.Secure = true, .CertPem = Pki.ServerCertPem, .KeyPem = Pki.ServerKeyPem});

  TBeastTransportFactory Untrusting({MakeTestPki({"localhost"}, {}).CaCertPem, false});
  EXPECT_FALSE(Untrusting.NewTransport()->Open("localhost", Server.Port(), "/relay?x=1", true));
  EXPECT_EQ(Server.TcpCount(), 1);
  EXPECT_EQ(Server.UpgradeCount(), 0);

  TBeastTransportFactory Trusting({Pki.CaCertPem, false});
  const auto Client = Trusting.NewTransport();
  ASSERT_TRUE(Client->Open("localhost", Server.Port(), "/relay?x=1", true));
  const auto Connection = Server.Accept();
  ASSERT_NE(Connection, nullptr);
  EXPECT_EQ(Connection->ServerName(), "localhost");
  EXPECT_EQ(Connection->Target(), "/relay?x=1");
  ExerciseRound(*Client, *Connection);
  EXPECT_EQ(Server.TcpCount(), 2);
  EXPECT_EQ(Server.UpgradeCount(), 1);
}

TEST(TestWsServerTest, EchoesMessageAboveBeastDefaultLimit) {
  TTestWsServer Server({.Mode = TServerMode::smEcho});
  TBeastTransportFactory Factory;
  const auto Client = Factory.NewTransport();
  ASSERT_TRUE(Client->Open("localhost", Server.Port(), "/relay", false));
  TIdBytes Big(16'777'218);
  for (std::size_t I = 0; I < Big.size(); ++I) Big[I] = static_cast<std::uint8_t>(I * 7);
  ASSERT_TRUE(Client->Send(Big));
  const TMessage Echo = ReadMessage(*Client);
  ASSERT_TRUE(Echo.Ok);
  EXPECT_EQ(Echo.Type, TBufferType::btBinaryMessage);
  EXPECT_TRUE(Echo.Text == std::string(Big.begin(), Big.end()));
  EXPECT_TRUE(Server.WaitMessages(1));
  EXPECT_EQ(Server.MessagesReceived(), 1u);
}

}  // namespace
}  // namespace halvora::test
