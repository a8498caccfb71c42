// Peers that try to hold the relay's memory or its hosts, over real connections. Other
// loopback addresses (127.0.0.2 and up) stand for other computers.
#include <gtest/gtest.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <thread>

#include "relay/uRelayServer.h"
#include "support/uWaitUntil.h"
#include "uRelayTestKit.h"

namespace halvora::relay::test {
namespace {

namespace net = boost::asio;

// A plain TCP connection that sends nothing: true once the relay has closed it (10 s at most).
bool ClosedWhenSilent(std::uint16_t APort) {
  net::io_context Io;
  net::ip::tcp::socket Socket(Io);
  Socket.connect({net::ip::make_address("127.0.0.1"), APort});
  bool Closed = false;
  char Byte = 0;
  Socket.async_read_some(net::buffer(&Byte, 1),
                         [&](boost::system::error_code AError, std::size_t) { Closed = !!AError; });
  Io.run_for(10s);
  return Closed;
}

// A host and a technician, each from its own address, paired and admitted.
struct TSession {
  TSession(std::uint16_t APort, const std::string& AHostAddress,
           const std::string& ATechnicianAddress)
      : Host(APort, false, AHostAddress), Technician(APort, false, ATechnicianAddress) {
    const std::string Id = RegisterHost(Host, "", "key");
    HelloTechnician(Technician);
    ConnectTo(Technician, Id, 0);
    Expect(Host, 5);
    Admit(Host, Technician);
  }
  TRelayTestClient Host, Technician;
};

TEST(RelayGuard, ClosesConnectionsThatSayNothing) {
  auto Options = TestOptions();
  Options.Limits.HelloTimeout = 1;
  TRelayServer Server(Options);
  EXPECT_TRUE(ClosedWhenSilent(Server.Port())) << "no HTTP request";
  TRelayTestClient Silent(Server.Port());
  EXPECT_TRUE(Silent.WaitClosed()) << "no hello after the upgrade";
}

TEST(RelayGuard, ReadsLargeMessagesOnlyFromRegisteredHostsAndAdmittedTechnicians) {
  TRelayServer Server(TestOptions());
  const std::string Large(5000, 'x');
  TRelayTestClient Stranger(Server.Port());
  Stranger.Send(50, Large);
  EXPECT_TRUE(Stranger.WaitClosed()) << "before the hello";

  TRelayTestClient Host(Server.Port()), Technician(Server.Port());
  const std::string Id = RegisterHost(Host, "", "key");
  HelloTechnician(Technician);
  ConnectTo(Technician, Id, 0);
  Expect(Host, 5);
  Host.Send(100, Large);
  EXPECT_TRUE(Expect(Technician, 100).Payload == Large);
  Technician.Send(101, Large);
  EXPECT_TRUE(Technician.WaitClosed()) << "before the admission";
  EXPECT_EQ(Expect(Host, 6).Payload, "");
}

TEST(RelayGuard, LimitsConnectionsPerAddress) {
  auto Options = TestOptions();
  Options.Limits.ConnectionsPerAddress = 3;
  TRelayServer Server(Options);
  std::vector<std::unique_ptr<TRelayTestClient>> Held;
  for (int I = 0; I < 3; ++I)
    Held.push_back(std::make_unique<TRelayTestClient>(Server.Port(), false, "127.0.0.2"));
  EXPECT_THROW(TRelayTestClient(Server.Port(), false, "127.0.0.2"), std::runtime_error);
  TRelayTestClient Elsewhere(Server.Port(), false, "127.0.0.3");
  HelloTechnician(Elsewhere);

  // A place comes free once the relay has seen a connection go.
  Held.pop_back();
  EXPECT_TRUE(halvora::test::WaitUntil([&] {
    try {
      TRelayTestClient Again(Server.Port(), false, "127.0.0.2");
      return true;
    } catch (const std::runtime_error&) {
      return false;
    }
  }, 10s));
}

// A technician who reads nothing fills the queues until its host is no longer read. Which other
// sessions wait with it depends on the budget that ran out: that of the technician's address,
// or that of the whole server.
TEST(RelayGuard, QueuedBytesStayWithinTheBudgets) {
  struct TCase {
    const char* Name;
    unsigned AddressBudget, ServerBudget;  // MiB
    bool OtherAddressWaits;
  };
  for (const TCase& Case :
       {TCase{"address budget", 4, 1024, false}, TCase{"server budget", 1024, 4, true}}) {
    SCOPED_TRACE(Case.Name);
    auto Options = TestOptions();
    Options.Limits.AddressQueueBudget = Case.AddressBudget;
    Options.Limits.QueueBudget = Case.ServerBudget;
    TRelayServer Server(Options);
    TSession Stuck(Server.Port(), "127.0.0.4", "127.0.0.2");
    TSession Neighbour(Server.Port(), "127.0.0.5", "127.0.0.2");  // same technician address
    TSession Other(Server.Port(), "127.0.0.6", "127.0.0.3");

    const std::string Chunk(1024 * 1024, 'B');
    int Sent = 0;
    while (Sent < 200 && Stuck.Host.TrySend(103, Chunk, 2s)) ++Sent;
    EXPECT_LT(Sent, 32) << "long before the limit of one connection";

    // The message that finds the budget spent is carried; its sender waits after it.
    for (TSession* Session : {&Neighbour, &Other}) {
      Session->Host.Send(103, "1");
      Session->Host.Send(103, "2");
      EXPECT_EQ(Expect(Session->Technician, 103).Payload, "1");
    }
    EXPECT_FALSE(Neighbour.Technician.Receive(1s).has_value());
    if (Case.OtherAddressWaits) {
      EXPECT_FALSE(Other.Technician.Receive(1s).has_value());
    } else {
      EXPECT_EQ(Expect(Other.Technician, 103).Payload, "2");
    }

    for (int N = 0; N < Sent; ++N) Expect(Stuck.Technician, 103);
    EXPECT_EQ(Expect(Neighbour.Technician, 103).Payload, "2");
    if (Case.OtherAddressWaits) {
      EXPECT_EQ(Expect(Other.Technician, 103).Payload, "2");
    }
  }
}

TEST(RelayGuard, AnUnansweredPairingEndsAndItsAddressWaits) {
  auto Options = TestOptions();
  Options.Limits.AdmissionTimeout = 1;
  TRelayServer Server(Options);
  TRelayTestClient Host(Server.Port()), Attacker(Server.Port(), false, "127.0.0.2"),
      Rightful(Server.Port(), false, "127.0.0.3");
  const std::string Id = RegisterHost(Host, "", "key");
  HelloTechnician(Attacker);
  HelloTechnician(Rightful);

  SCOPED_TRACE("a challenge left unanswered");
  ConnectTo(Attacker, Id, 0);
  Expect(Host, 5);
  Host.Send(100, "0123456789abcdef0123456789abcdef");
  Expect(Attacker, 100);
  EXPECT_EQ(Expect(Host, 6).Payload, "");
  EXPECT_EQ(Expect(Attacker, 6).Payload, "O acesso não foi confirmado a tempo. Tente de novo.");

  SCOPED_TRACE("a wrong proof, which the host refuses");
  ConnectTo(Attacker, Id, 0);
  Expect(Host, 5);
  Attacker.Send(101, "wrong");
  Expect(Host, 101);
  Host.Send(102, std::string(1, '\0'));
  Host.Send(7);
  Expect(Attacker, 102);
  Expect(Attacker, 6);
  EXPECT_EQ(ConnectTo(Attacker, Id, 5), "5|Muitas tentativas. Aguarde 10 s e tente de novo.|");

  SCOPED_TRACE("the host's rightful technician gets in meanwhile");
  ConnectTo(Rightful, Id, 0);
  Expect(Host, 5);
  Admit(Host, Rightful);
}

}  // namespace
}  // namespace halvora::relay::test
