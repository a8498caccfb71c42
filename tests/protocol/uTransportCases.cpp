// What every transport must do, against a local WebSocket server over ws and wss. Each test
// program that links these cases names its transport by TransportUnderTest.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>

#include "protocol/uTransportUnderTest.h"
#include "support/uTestPki.h"
#include "support/uTestWsServer.h"

namespace halvora::test {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t RelayBuffer = 64 * 1024;

TIdBytes Pattern(std::size_t ASize) {
  TIdBytes Result(ASize);
  for (std::size_t I = 0; I < ASize; ++I) Result[I] = static_cast<std::uint8_t>(I * 31 + I / 251);
  return Result;
}

TIdBytes Bytes(const std::string& AText) {
  return TIdBytes(AText.begin(), AText.end());
}

bool IsFragment(TBufferType AType) {
  return AType == TBufferType::btBinaryFragment || AType == TBufferType::btUtf8Fragment;
}

// One message as the transport delivered it: the pieces' types and the joined data.
struct TReceived {
  bool Ok = true;
  std::vector<TBufferType> Types;
  TIdBytes Data;
};

TReceived ReceiveMessage(IRelayTransport& ATransport, std::size_t ABufferSize = RelayBuffer) {
  TReceived Result;
  TIdBytes Buffer(ABufferSize);
  do {
    std::size_t Read = 0;
    TBufferType Type = TBufferType::btClose;
    if (!ATransport.Receive(Buffer.data(), Buffer.size(), Read, Type)) {
      Result.Ok = false;
      return Result;
    }
    Result.Types.push_back(Type);
    Result.Data.insert(Result.Data.end(), Buffer.begin(), Buffer.begin() + Read);
  } while (IsFragment(Result.Types.back()));
  return Result;
}

// Pieces before the last are AFragment, the last is AMessage, and there are at least AMin.
void ExpectPieces(const TReceived& AReceived, TBufferType AFragment, TBufferType AMessage,
                  std::size_t AMin) {
  ASSERT_TRUE(AReceived.Ok);
  EXPECT_GE(AReceived.Types.size(), AMin);
  for (std::size_t I = 0; I + 1 < AReceived.Types.size(); ++I)
    EXPECT_EQ(AReceived.Types[I], AFragment) << "piece " << I;
  EXPECT_EQ(AReceived.Types.back(), AMessage);
}

// The result of a call on another thread; the run fails outright instead of hanging.
template <class T>
T Await(std::future<T>& AResult) {
  if (AResult.wait_for(60s) != std::future_status::ready) {
    ADD_FAILURE() << "a blocked call never returned";
    std::abort();
  }
  return AResult.get();
}

const ITransportKind& Kind() {
  return TransportUnderTest();
}

// The hosts by which a server on 127.0.0.1 with a certificate for localhost (and for the
// address, where the transport takes such certificates) is reached.
std::vector<std::string> Hosts(bool ASecure) {
  if (ASecure && !Kind().AddressCertificates()) return {"localhost"};
  return {"127.0.0.1", "localhost"};
}

std::vector<std::string> Addresses() {
  if (Kind().AddressCertificates()) return {"127.0.0.1"};
  return {};
}

// A server with a certificate for localhost (and 127.0.0.1), and a transport factory that
// trusts its CA. The parameter selects wss.
class TTransportTest : public ::testing::TestWithParam<bool> {
 protected:
  bool Secure() const { return GetParam(); }

  TTestWsServer& StartServer(TServerMode AMode = TServerMode::smScripted) {
    FServer = std::make_unique<TTestWsServer>(
        TServerOptions{Secure(), FPki.ServerCertPem, FPki.ServerKeyPem, AMode});
    return *FServer;
  }

  std::shared_ptr<IRelayTransport> Connect() {
    return Connect(Hosts(Secure()).front());
  }

  std::shared_ptr<IRelayTransport> Connect(const std::string& AHost) {
    auto Transport = FFactory->NewTransport();
    EXPECT_TRUE(Transport->Open(AHost, FServer->Port(), "/relay?id=7", Secure()));
    return Transport;
  }

  TTestPki FPki = MakeTestPki({"localhost"}, Addresses());
  std::shared_ptr<ITransportFactory> FFactory = Kind().Factory(FPki.CaCertPem);
  std::unique_ptr<TTestWsServer> FServer;
};

TEST_P(TTransportTest, UpgradeCarriesTargetUserAgentAndHost) {
  StartServer();
  for (const std::string& Host : Hosts(Secure())) {
    auto Transport = Connect(Host);
    auto Connection = FServer->Accept();
    ASSERT_TRUE(Connection);
    EXPECT_EQ(Connection->Target(), "/relay?id=7");
    EXPECT_EQ(Connection->UserAgent(), "Halvora");
    EXPECT_EQ(Connection->HostHeader(), Host + ":" + std::to_string(FServer->Port()));
    // SNI names a host, never an address.
    EXPECT_EQ(Connection->ServerName(), Secure() && Host == "localhost" ? Host : "") << Host;
  }
}

TEST_P(TTransportTest, SendsWholeMessagesWhileAReceiveWaits) {
  StartServer(TServerMode::smEcho);
  auto Transport = Connect();
  // The echoes come back to a receive loop that is blocked while the sends go out.
  auto Echoes = std::async(std::launch::async, [&] {
    std::vector<TReceived> Messages;
    for (int I = 0; I < 4; ++I) Messages.push_back(ReceiveMessage(*Transport));
    return Messages;
  });
  const std::vector<TIdBytes> Sent = {Pattern(1 << 20), Bytes("x"), {}, Pattern(70000)};
  for (const auto& Message : Sent) EXPECT_TRUE(Transport->Send(Message));

  const auto Received = Await(Echoes);
  EXPECT_EQ(FServer->MessagesReceived(), Sent.size());
  for (std::size_t I = 0; I < Sent.size(); ++I) {
    ExpectPieces(Received[I], TBufferType::btBinaryFragment, TBufferType::btBinaryMessage, 1);
    EXPECT_TRUE(Received[I].Data == Sent[I]) << "message " << I;
  }
  // A 1 MiB message cannot fit one 64 KiB receive.
  EXPECT_GE(Received[0].Types.size(), 16u);
}

TEST_P(TTransportTest, ReceiveReportsFragmentsThenTheMessage) {
  StartServer();
  auto Transport = Connect();
  auto Connection = FServer->Accept();
  ASSERT_TRUE(Connection);

  ASSERT_TRUE(Connection->SendFragmented({Bytes("ab"), Bytes("cd"), Bytes("ef")}, false));
  auto Binary = ReceiveMessage(*Transport);
  ExpectPieces(Binary, TBufferType::btBinaryFragment, TBufferType::btBinaryMessage, 3);
  EXPECT_EQ(Binary.Data, Bytes("abcdef"));

  ASSERT_TRUE(Connection->SendFragmented({Bytes("he"), Bytes("llo")}, true));
  auto Text = ReceiveMessage(*Transport);
  ExpectPieces(Text, TBufferType::btUtf8Fragment, TBufferType::btUtf8Message, 2);
  EXPECT_EQ(Text.Data, Bytes("hello"));

  // A single frame larger than the buffer arrives in pieces too.
  ASSERT_TRUE(Connection->SendBinary(Pattern(10)));
  auto Split = ReceiveMessage(*Transport, 4);
  ExpectPieces(Split, TBufferType::btBinaryFragment, TBufferType::btBinaryMessage, 3);
  EXPECT_EQ(Split.Data, Pattern(10));
}

TEST_P(TTransportTest, CloseFrameFromThePeerGivesBtClose) {
  StartServer();
  auto Transport = Connect();
  auto Connection = FServer->Accept();
  ASSERT_TRUE(Connection);
  ASSERT_TRUE(Connection->SendClose());

  TIdBytes Buffer(16);
  std::size_t Read = 99;
  TBufferType Type = TBufferType::btBinaryMessage;
  EXPECT_TRUE(Transport->Receive(Buffer.data(), Buffer.size(), Read, Type));
  EXPECT_EQ(Type, TBufferType::btClose);
  EXPECT_EQ(Read, 0u);
  // Ended by the owner, as the relay client does (WinHTTP keeps the connection until then).
  Transport->Close();
  EXPECT_TRUE(Connection->WaitClosed());
}

TEST_P(TTransportTest, CloseFromAnotherThreadWakesABlockedReceive) {
  StartServer();
  auto Transport = Connect();
  auto Connection = FServer->Accept();
  ASSERT_TRUE(Connection);

  auto Pending = std::async(std::launch::async, [&] { return ReceiveMessage(*Transport).Ok; });
  // Time for the receive to block: a Close that came first would show nothing, not fail.
  std::this_thread::sleep_for(200ms);
  Transport->Close();
  // Well before the transport's own receive time-out.
  EXPECT_EQ(Pending.wait_for(1s), std::future_status::ready) << "the receive still blocks";
  EXPECT_FALSE(Await(Pending));
  EXPECT_TRUE(Connection->WaitClosed());

  Transport->Close();
  EXPECT_FALSE(Transport->Send(Bytes("late")));
  EXPECT_FALSE(ReceiveMessage(*Transport).Ok);
}

INSTANTIATE_TEST_SUITE_P(WsAndWss, TTransportTest, ::testing::Bool(),
                         [](const auto& AInfo) { return AInfo.param ? "wss" : "ws"; });

TEST(TTransportOpenTest, CloseMakesOpenFail) {
  TTestWsServer Server;
  const auto Factory = Kind().Factory({});

  auto Early = Factory->NewTransport();
  Early->Close();
  EXPECT_FALSE(Early->Open("127.0.0.1", Server.Port(), "/", false));
  EXPECT_EQ(Server.TcpCount(), 0);

  // A listener that accepts and never answers: Close comes while the upgrade waits.
  boost::asio::io_context Io;
  boost::asio::ip::tcp::acceptor Silent(Io, {boost::asio::ip::make_address("127.0.0.1"), 0});
  auto Waiting = Factory->NewTransport();
  auto Opening = std::async(std::launch::async, [&] {
    return Waiting->Open("127.0.0.1", Silent.local_endpoint().port(), "/", false);
  });
  boost::asio::ip::tcp::socket Accepted(Io);
  Silent.async_accept(Accepted, [](const boost::system::error_code&) {});
  Io.run_for(20s);
  EXPECT_TRUE(Accepted.is_open()) << "the transport never connected";
  Waiting->Close();
  EXPECT_EQ(Opening.wait_for(1s), std::future_status::ready) << "the upgrade still waits";
  EXPECT_FALSE(Await(Opening));
}

TEST(TTransportOpenTest, FailsWhenTheServerRefusesTheUpgrade) {
  // A server that answers the upgrade with 404 and keeps the connection.
  using boost::asio::ip::tcp;
  boost::asio::io_context Io;
  tcp::acceptor Server(Io, {boost::asio::ip::make_address("127.0.0.1"), 0});
  tcp::socket Peer(Io);
  std::string Request;
  const std::string Refusal = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
  Server.async_accept(Peer, [&](const boost::system::error_code& AError) {
    if (AError) return;
    boost::asio::async_read_until(
        Peer, boost::asio::dynamic_buffer(Request), "\r\n\r\n",
        [&](const boost::system::error_code& AReadError, std::size_t) {
          if (!AReadError)
            boost::asio::async_write(Peer, boost::asio::buffer(Refusal),
                                     [](const boost::system::error_code&, std::size_t) {});
        });
  });
  std::thread Serving([&] { Io.run_for(20s); });

  EXPECT_FALSE(Kind().Factory({})->NewTransport()->Open(
      "127.0.0.1", Server.local_endpoint().port(), "/relay", false));
  Serving.join();
  EXPECT_NE(Request.find("GET /relay "), std::string::npos) << Request;
}

TEST(TTransportOpenTest, FailsOnAClosedPortOrPortZero) {
  std::uint16_t Port = 0;
  {
    TTestWsServer Gone;
    Port = Gone.Port();
  }
  const auto Factory = Kind().Factory({});
  EXPECT_FALSE(Factory->NewTransport()->Open("127.0.0.1", Port, "/", false));
  EXPECT_FALSE(Factory->NewTransport()->Open("127.0.0.1", 0, "/", false));
}

TEST(TTransportOpenTest, RejectsAnUntrustedCertificate) {
  const auto Pki = MakeTestPki({"localhost"}, Addresses());
  const auto Other = MakeTestPki({"localhost"}, Addresses());
  TTestWsServer Server({true, Pki.ServerCertPem, Pki.ServerKeyPem});

  EXPECT_FALSE(Kind().Factory(Other.CaCertPem)->NewTransport()->Open("localhost", Server.Port(),
                                                                     "/", true));
  EXPECT_TRUE(Kind().Factory(Pki.CaCertPem)->NewTransport()->Open("localhost", Server.Port(),
                                                                  "/", true));
  EXPECT_TRUE(Server.Accept());
  EXPECT_EQ(Server.UpgradeCount(), 1);
}

TEST(TTransportOpenTest, RejectsACertificateForAnotherName) {
  const auto Pki = MakeTestPki({"localhost"}, {});
  TTestWsServer Server({true, Pki.ServerCertPem, Pki.ServerKeyPem});
  const auto Factory = Kind().Factory(Pki.CaCertPem);

  EXPECT_FALSE(Factory->NewTransport()->Open("127.0.0.1", Server.Port(), "/", true));
  EXPECT_TRUE(Factory->NewTransport()->Open("localhost", Server.Port(), "/", true));
  EXPECT_TRUE(Server.Accept());
  EXPECT_EQ(Server.UpgradeCount(), 1);
}

}  // namespace
}  // namespace halvora::test
