// The relay client over the transport under test against a WebSocket server on loopback, over
// ws and wss.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "protocol/uConnection.h"
#include "protocol/uProtocol.h"
#include "protocol/uTransportUnderTest.h"
#include "support/uTestClock.h"
#include "support/uTestLoop.h"
#include "support/uTestPki.h"
#include "support/uTestWsServer.h"

namespace halvora {
namespace {

using namespace std::chrono_literals;
using test::TServerOptions;
using test::TTestClock;
using test::TTestLoop;
using test::TTestWsConnection;
using test::TTestWsServer;

const test::TTestPki& Pki() {
  static const test::TTestPki Value = test::MakeTestPki({"localhost"}, {});
  return Value;
}

TIdBytes Message(std::uint8_t ACmd, const TIdBytes& APayload) {
  TIdBytes Frame(APayload.size() + 1, ACmd);
  std::copy(APayload.begin(), APayload.end(), Frame.begin() + 1);
  return Frame;
}

struct TReceived {
  std::uint8_t Cmd;
  TIdBytes Payload;
};

class RelayClientLink : public ::testing::TestWithParam<bool> {
 protected:
  bool Secure() const { return GetParam(); }

  TServerOptions ServerOptions() const {
    TServerOptions Options;
    Options.Secure = Secure();
    Options.CertPem = Pki().ServerCertPem;
    Options.KeyPem = Pki().ServerKeyPem;
    return Options;
  }

  std::string Url(const TTestWsServer& AServer, const char* AHost = "localhost") const {
    return std::string(Secure() ? "wss://" : "ws://") + AHost + ":" +
           std::to_string(AServer.Port()) + "/relay";
  }

  std::unique_ptr<TRelayClient> Connect(const std::string& AUrl, const std::string& ACaPem) {
    auto Client = TRelayClient::CreateCliente(
        AUrl, "123456789", "key",
        TRelayEnvironment{test::TransportUnderTest().Factory(ACaPem), &Clock, &Loop.Queue()});
    Client->SetOnPacket([this](std::uint8_t ACmd, const TIdBytes& APayload) {
      Packets.push_back({ACmd, APayload});
    });
    Client->SetOnOnline([this](bool AOnline) { Online.push_back(AOnline); });
    return Client;
  }

  std::unique_ptr<TRelayClient> Connect() { return Connect(Url(Server), Pki().CaCertPem); }

  bool WaitPackets(std::size_t ACount) {
    return Loop.RunUntil([&] { return Packets.size() >= ACount; });
  }

  // Reads the hello of a new connection.
  std::string Hello(TTestWsConnection& AConnection) {
    TIdBytes Hello;
    if (!AConnection.Read(Hello) || Hello.empty() || Hello[0] != cmdHello) return "";
    return std::string(Hello.begin() + 1, Hello.end());
  }

  TTestLoop Loop;
  TTestClock Clock;
  TTestWsServer Server{ServerOptions()};
  std::vector<TReceived> Packets;
  std::vector<bool> Online;
};

INSTANTIATE_TEST_SUITE_P(WsAndWss, RelayClientLink, ::testing::Bool(),
                         [](const auto& AInfo) { return AInfo.param ? "wss" : "ws"; });

TEST_P(RelayClientLink, RegistersAdoptsItsIdAndReconnectsAfter3s) {
  auto Client = Connect();
  auto First = Server.Accept();
  ASSERT_TRUE(First);
  EXPECT_EQ(Hello(*First), "2|C|123456789|key");
  EXPECT_EQ(First->Target(), "/relay");
  EXPECT_EQ(First->UserAgent(), "Halvora");
  if (Secure()) {
    EXPECT_EQ(First->ServerName(), "localhost");
  }
  ASSERT_TRUE(Loop.RunUntil([&] { return Online == std::vector<bool>{true}; }));
  EXPECT_TRUE(Client->Send(cmdKeepAlive, {}));
  TIdBytes KeepAlive;
  ASSERT_TRUE(First->Read(KeepAlive));
  EXPECT_EQ(KeepAlive, TIdBytes{cmdKeepAlive});

  ASSERT_TRUE(First->SendBinary(Message(cmdWelcome, TextToBytes("987654321"))));
  ASSERT_TRUE(WaitPackets(1));
  EXPECT_EQ(Packets[0].Cmd, cmdWelcome);
  EXPECT_EQ(BytesToText(Packets[0].Payload), "987654321");

  First->Drop();
  ASSERT_TRUE(Loop.RunUntil([&] { return Online == std::vector<bool>{true, false}; }));
  ASSERT_TRUE(Clock.WaitForWaits(1));
  EXPECT_EQ(Clock.Waits().back(), 3000u);
  EXPECT_FALSE(Client->Send(cmdKeepAlive, {}));
  Clock.Advance(3000);
  auto Second = Server.Accept();
  ASSERT_TRUE(Second);
  EXPECT_EQ(Hello(*Second), "2|C|987654321|key");
}

TEST_P(RelayClientLink, DeliversWholeMessagesOnceAndDropsTheRelaysNoop) {
  auto Client = Connect();
  auto Connection = Server.Accept();
  ASSERT_TRUE(Connection);
  Hello(*Connection);
  std::atomic<int> DirectCalls{0};
  Client->SetOnDirectPacket([&](std::uint8_t ACmd, const TIdBytes&) {
    ++DirectCalls;
    return ACmd == cmdFrameAck;
  });

  ASSERT_TRUE(Connection->SendFragmented({{cmdClipText, 'a', 'b'}, {'c'}, {}, {'d', 'e'}}, false));
  ASSERT_TRUE(Connection->SendFragmented({{cmdInstallOffer}, {'o', 'i'}}, true));
  ASSERT_TRUE(Connection->SendBinary({cmdRelayNoop, 'x'}));
  ASSERT_TRUE(Connection->SendBinary({cmdFrameAck}));
  ASSERT_TRUE(Connection->SendText(std::string(1, static_cast<char>(cmdPermanentCount)) + "3"));
  ASSERT_TRUE(WaitPackets(3));
  Loop.RunPending();
  ASSERT_EQ(Packets.size(), 3u);
  EXPECT_EQ(Packets[0].Cmd, cmdClipText);
  EXPECT_EQ(BytesToText(Packets[0].Payload), "abcde");
  EXPECT_EQ(Packets[1].Cmd, cmdInstallOffer);
  EXPECT_EQ(BytesToText(Packets[1].Payload), "oi");
  EXPECT_EQ(Packets[2].Cmd, cmdPermanentCount);
  EXPECT_EQ(BytesToText(Packets[2].Payload), "3");
  // The noop reaches neither hook; the acknowledgement stays on the direct path.
  EXPECT_EQ(DirectCalls, 4);
}

TEST_P(RelayClientLink, AcceptsTheLargestMessageAndEndsOnAnEmptyOrLargerOne) {
  auto Client = Connect();
  auto Connection = Server.Accept();
  ASSERT_TRUE(Connection);
  Hello(*Connection);
  TIdBytes Largest(MaxMessageSize, 0x5A);
  Largest[0] = cmdClipFileData;
  ASSERT_TRUE(Connection->SendBinary(Largest));
  ASSERT_TRUE(WaitPackets(1));
  EXPECT_EQ(Packets[0].Payload.size(), MaxMessageSize - 1);
  EXPECT_EQ(Packets[0].Payload.back(), 0x5A);

  Largest.push_back(0x5A);
  Connection->SendBinary(Largest);
  EXPECT_TRUE(Connection->WaitClosed());
  ASSERT_TRUE(Loop.RunUntil([&] { return Online == std::vector<bool>{true, false}; }));

  ASSERT_TRUE(Clock.WaitForWaits(1));
  Clock.Advance(3000);
  auto Next = Server.Accept();
  ASSERT_TRUE(Next);
  Hello(*Next);
  Next->SendBinary({});
  EXPECT_TRUE(Next->WaitClosed());
  EXPECT_EQ(Packets.size(), 1u);
}

TEST_P(RelayClientLink, ARefusalDelaysOnlyTheNextAttemptBy60s) {
  auto Client = Connect();
  auto Connection = Server.Accept();
  ASSERT_TRUE(Connection);
  Hello(*Connection);
  ASSERT_TRUE(Connection->SendBinary(Message(cmdRefused, TextToBytes("1|ID em uso|x"))));
  Connection->Drop();
  ASSERT_TRUE(WaitPackets(1));
  EXPECT_EQ(Packets[0].Cmd, cmdRefused);
  ASSERT_TRUE(Clock.WaitForWaits(1));
  EXPECT_EQ(Clock.Waits().back(), 60000u);
  Clock.Advance(59999);
  EXPECT_EQ(Clock.WaiterCount(), 1u);
  EXPECT_EQ(Server.TcpCount(), 1);
  Clock.Advance(1);

  auto Again = Server.Accept();
  ASSERT_TRUE(Again);
  Hello(*Again);
  Again->Drop();
  ASSERT_TRUE(Clock.WaitForWaits(2));
  EXPECT_EQ(Clock.Waits().back(), 3000u);
}

TEST_P(RelayClientLink, DestroyingDuringThe60sWaitReturnsAtOnce) {
  auto Client = Connect();
  auto Connection = Server.Accept();
  ASSERT_TRUE(Connection);
  Hello(*Connection);
  Connection->SendBinary(Message(cmdRefused, {}));
  Connection->Drop();
  ASSERT_TRUE(Clock.WaitForWaits(1));
  // The test clock never reaches the 60 s: only the wake-up can end the wait.
  Client.reset();
  Loop.RunPending();
  EXPECT_EQ(Online, std::vector<bool>{});
}

TEST_P(RelayClientLink, ConcurrentSendersNeverInterleave) {
  if (Secure() && !test::TransportUnderTest().BusyTlsBothWays())
    GTEST_SKIP() << "this transport's TLS does not bear busy traffic both ways";
  auto Client = Connect();
  auto Connection = Server.Accept();
  ASSERT_TRUE(Connection);
  Hello(*Connection);
  ASSERT_TRUE(Loop.RunUntil([&] { return !Online.empty(); }));

  constexpr int Senders = 4, PerSender = 40, FromRelay = 100;
  std::vector<std::thread> Threads;
  for (int Sender = 0; Sender < Senders; ++Sender)
    Threads.emplace_back([&, Sender] {
      for (int Seq = 0; Seq < PerSender; ++Seq) {
        // Sizes up to 256 KiB so that unserialised writes would interleave.
        TIdBytes Payload(1 + (Seq * 7919 + Sender * 104729) % 262144,
                         static_cast<std::uint8_t>(Sender * PerSender + Seq));
        Client->Send(static_cast<std::uint8_t>(200 + Sender), Payload);
      }
    });
  std::thread Relay([&] {
    for (int I = 0; I < FromRelay; ++I) Connection->SendBinary({cmdClipText, 'x'});
  });

  std::vector<int> NextSeq(Senders, 0);
  for (int I = 0; I < Senders * PerSender; ++I) {
    TIdBytes Got;
    ASSERT_TRUE(Connection->Read(Got, 30s));
    ASSERT_GE(Got.size(), 2u);
    const int Sender = Got[0] - 200;
    ASSERT_TRUE(Sender >= 0 && Sender < Senders);
    const int Seq = NextSeq[Sender]++;
    ASSERT_EQ(Got.size() - 1, 1u + (Seq * 7919 + Sender * 104729) % 262144);
    const auto Fill = static_cast<std::uint8_t>(Sender * PerSender + Seq);
    ASSERT_TRUE(std::all_of(Got.begin() + 1, Got.end(), [&](auto AByte) { return AByte == Fill; }));
  }
  for (auto& Thread : Threads) Thread.join();
  Relay.join();
  ASSERT_TRUE(WaitPackets(FromRelay));
}

class RelayClientTls : public RelayClientLink {};
INSTANTIATE_TEST_SUITE_P(Wss, RelayClientTls, ::testing::Values(true),
                         [](const auto&) { return "wss"; });

TEST_P(RelayClientTls, RefusesAnUntrustedCertificateAndAWrongHostName) {
  const test::TTestPki Stranger = test::MakeTestPki({"localhost"}, {});
  struct TCase {
    const char* Name;
    std::string Url;
    std::string CaPem;
  };
  const TCase Cases[] = {
      {"untrusted", Url(Server), Stranger.CaCertPem},
      {"wrong host", Url(Server, "127.0.0.1"), Pki().CaCertPem},
  };
  int Attempts = 0;
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    auto Client = Connect(Case.Url, Case.CaPem);
    ASSERT_TRUE(Clock.WaitForWaits(++Attempts));  // the attempt failed and the client waits
    EXPECT_EQ(Server.TcpCount(), Attempts);
    EXPECT_EQ(Server.UpgradeCount(), 0);
    Loop.RunPending();
    EXPECT_TRUE(Online.empty());
  }
}

}  // namespace
}  // namespace halvora
