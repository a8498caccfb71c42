// Hosts and technicians over real WebSocket connections to an in-process relay.
#include <gtest/gtest.h>

#include <memory>

#include "relay/uRelayServer.h"
#include "uRelayTestKit.h"

namespace halvora::relay::test {
namespace {

class RelayProtocolTest : public ::testing::Test {
 protected:
  std::unique_ptr<TRelayTestClient> Connect() {
    return std::make_unique<TRelayTestClient>(Server.Port());
  }
  // A registered host and a technician paired with it by password and admitted.
  struct TPair {
    std::unique_ptr<TRelayTestClient> Host, Technician;
    std::string Id;
  };
  TPair Pair(const std::string& AKey) {
    TPair Result{Connect(), Connect(), {}};
    Result.Id = RegisterHost(*Result.Host, "", AKey);
    HelloTechnician(*Result.Technician);
    ConnectTo(*Result.Technician, Result.Id, 0);
    Expect(*Result.Host, 5);
    Admit(*Result.Host, *Result.Technician);
    return Result;
  }

  TRelayServer Server{TestOptions()};
};

TEST_F(RelayProtocolTest, RegistersHostsAndKeepsTheirIds) {
  auto First = Connect();
  const std::string Id = RegisterHost(*First, "", "key-a");
  ASSERT_EQ(Id.size(), 9u);
  EXPECT_GE(std::stoul(Id), 100000000u);
  EXPECT_EQ(Id.find_first_not_of("0123456789"), std::string::npos);

  // The same ID and key again: welcomed, and the older connection is closed.
  auto Second = Connect();
  Second->Send(1, "2|C|" + Id + "|key-a");
  EXPECT_EQ(Expect(*Second, 2).Payload, Id);
  EXPECT_EQ(Expect(*Second, 14).Payload, "0");
  EXPECT_TRUE(First->WaitClosed());

  // Another key: refused and closed, while the rightful host stays registered.
  auto Thief = Connect();
  Thief->Send(1, "2|C|" + Id + "|key-b");
  EXPECT_EQ(Expect(*Thief, 10).Payload.substr(0, 9), "registro|");
  EXPECT_TRUE(Thief->WaitClosed());
  auto Technician = Connect();
  HelloTechnician(*Technician);
  ConnectTo(*Technician, Id, 0);
  Expect(*Second, 5);

  // An ID this relay never handed out is taken with its key.
  auto Returning = Connect();
  EXPECT_EQ(RegisterHost(*Returning, "555000111", "key-c"), "555000111");
}

TEST(RelayRegistration, PersistsAcrossRestartsAndSendsConfiguredOffers) {
  TTempFolder Folder;
  auto Options = TestOptions((Folder.Path() / "relay.db").string());
  std::string Id;
  {
    TRelayServer Server(Options);
    TRelayTestClient Host(Server.Port());
    Id = RegisterHost(Host, "", "key-a");
  }
  Options.InstallOffer = "Instale o Halvora para acesso sem senha.";
  Options.Brand = "acme|Acme Suporte";
  TRelayServer Server(Options);
  TRelayTestClient Host(Server.Port());
  EXPECT_EQ(RegisterHost(Host, Id, "key-a"), Id);
  EXPECT_EQ(Expect(Host, 12).Payload, Options.InstallOffer);
  EXPECT_EQ(Expect(Host, 16).Payload, "acme|Acme Suporte");
  TRelayTestClient Thief(Server.Port());
  Thief.Send(1, "2|C|" + Id + "|key-b");
  Expect(Thief, 10);
}

TEST_F(RelayProtocolTest, AnswersConnectRequestsWithTheirCodes) {
  auto Host = Connect();
  const std::string Id = RegisterHost(*Host, "", "key");
  auto Technician = Connect();

  SCOPED_TRACE("before the hello, then an empty ID");
  ConnectTo(*Technician, Id, 4);
  HelloTechnician(*Technician);
  ConnectTo(*Technician, "  ", 4);

  SCOPED_TRACE("unknown and offline IDs get one answer; permanent access tells them apart");
  const std::string Unknown = ConnectTo(*Technician, "000000001", 1);
  {
    auto Gone = Connect();
    RegisterHost(*Gone, "555000222", "key");
  }
  ASSERT_TRUE(WaitOnline(Server.Port(), "555000222", false));
  EXPECT_EQ(ConnectTo(*Technician, "555000222", 1), Unknown);
  ASSERT_EQ(AdminRequest(Server.Port(), "POST", "/admin/hosts/555000222/permanent", "tok-1|Empresa")
                .Status,
            200u);
  auto Trusted = Connect();
  HelloTechnician(*Trusted, "tok-1");
  EXPECT_EQ(ConnectTo(*Trusted, "555000222", 2), "2|O computador está desconectado.|");
  EXPECT_EQ(ConnectTo(*Trusted, "000000001", 1), Unknown);

  SCOPED_TRACE("paired by an ID written with blanks");
  Technician->Send(50, Id.substr(0, 3) + " " + Id.substr(3, 3) + " " + Id.substr(6) +
                           "|Ana Souza|Suporte|nível 2");
  EXPECT_EQ(Expect(*Technician, 51).Payload, "0|Conectado.|senha");
  const std::string Request = Expect(*Host, 5).Payload;
  const auto Bar = Request.find('|');
  EXPECT_GT(std::stoul(Request.substr(0, Bar)), 0u);
  EXPECT_EQ(Request.substr(Bar), "|Ana Souza|Suporte|nível 2");

  SCOPED_TRACE("already paired, and a second technician for the busy host");
  ConnectTo(*Technician, Id, 4);
  auto Second = Connect();
  HelloTechnician(*Second);
  ConnectTo(*Second, Id, 3);
}

TEST_F(RelayProtocolTest, PermanentAccessAdmitsWithoutPasswordUntilRevoked) {
  auto Host = Connect();
  const std::string Id = RegisterHost(*Host, "", "key");
  const std::string Url = "/admin/hosts/" + Id + "/permanent";
  EXPECT_EQ(AdminRequest(Server.Port(), "POST", Url, "tok-1|Empresa A").Status, 200u);
  EXPECT_EQ(Expect(*Host, 14).Payload, "1");
  EXPECT_EQ(AdminRequest(Server.Port(), "POST", Url, "tok-2|Empresa B").Status, 200u);
  EXPECT_EQ(Expect(*Host, 14).Payload, "2");

  auto Technician = Connect();
  HelloTechnician(*Technician, "tok-1");
  EXPECT_EQ(ConnectTo(*Technician, Id, 0), "0|Conectado.|permanente");
  EXPECT_NE(Expect(*Host, 15).Payload.find("|Ana|Suporte"), std::string::npos);
  Admit(*Host, *Technician);
  Technician->Send(7);
  EXPECT_EQ(Expect(*Host, 6).Payload, "");

  // The host revokes: the count drops to 0 and the same token needs the password again.
  Host->Send(13);
  EXPECT_EQ(Expect(*Host, 14).Payload, "0");
  EXPECT_EQ(ConnectTo(*Technician, Id, 0), "0|Conectado.|senha");
  Expect(*Host, 5);

  EXPECT_EQ(AdminRequest(Server.Port(), "POST", Url, "tok-1|Empresa A").Status, 200u);
  EXPECT_EQ(Expect(*Host, 14).Payload, "1");
  EXPECT_EQ(AdminRequest(Server.Port(), "DELETE", Url).Status, 200u);
  EXPECT_EQ(Expect(*Host, 14).Payload, "0");
}

TEST_F(RelayProtocolTest, CarriesSessionMessagesBothWaysInOrder) {
  auto [Host, Technician, Id] = Pair("key");
  const std::string Big(1024 * 1024, '\x5A');
  // Every number from 100 up is a session message, also those this relay does not know.
  const std::vector<TMessage> FromHost = {{100, "0123456789abcdef0123456789abcdef"},
                                          {107, std::string("\x02\x00", 2)},
                                          {103, Big + "end"},
                                          {110, "\x01"},
                                          {117, "new"},
                                          {255, "last"}};
  const std::vector<TMessage> FromTechnician = {{101, "proof"},      {104, ""},
                                                {114, "data" + Big}, {105, std::string(8, '\0')},
                                                {200, "new"},        {255, "last"}};
  for (const auto& Message : FromHost) {
    Host->Send(Message.Cmd, Message.Payload);
    Host->Send(8);  // keep-alive: for the relay only
  }
  for (const auto& Message : FromTechnician) Technician->Send(Message.Cmd, Message.Payload);
  for (const auto& Message : FromHost)
    EXPECT_TRUE(Expect(*Technician, Message.Cmd).Payload == Message.Payload);
  for (const auto& Message : FromTechnician)
    EXPECT_TRUE(Expect(*Host, Message.Cmd).Payload == Message.Payload);

  SCOPED_TRACE("the host ends the session");
  Host->Send(7);
  EXPECT_FALSE(Expect(*Technician, 6).Payload.empty());
  Technician->Send(101, "late proof");
  Expect(*Technician, 52);

  SCOPED_TRACE("the technician ends the session, then leaves a new one");
  ConnectTo(*Technician, Id, 0);
  Expect(*Host, 5);
  Admit(*Host, *Technician);
  Technician->Send(7);
  EXPECT_EQ(Expect(*Host, 6).Payload, "");
  ConnectTo(*Technician, Id, 0);
  Expect(*Host, 5);
  Admit(*Host, *Technician);
  Technician.reset();
  EXPECT_EQ(Expect(*Host, 6).Payload, "");

  SCOPED_TRACE("the host leaves");
  auto Next = Connect();
  HelloTechnician(*Next);
  ConnectTo(*Next, Id, 0);
  Expect(*Host, 5);
  Admit(*Host, *Next);
  Host.reset();
  EXPECT_FALSE(Expect(*Next, 6).Payload.empty());
}

// Until the host admits the technician, only the challenge, the proof and the result travel;
// the rest is dropped without an answer, late frames of an earlier session included.
TEST_F(RelayProtocolTest, CarriesOnlyTheAdmissionUntilTheHostAdmits) {
  auto Host = Connect();
  const std::string Id = RegisterHost(*Host, "", "key");
  auto Technician = Connect();
  HelloTechnician(*Technician);
  ConnectTo(*Technician, Id, 0);
  Expect(*Host, 5);
  for (const int Cmd : {105, 106, 109, 111, 114, 116, 200})
    Technician->Send(static_cast<std::uint8_t>(Cmd), std::string(8, '\0'));
  for (const int Cmd : {103, 107, 110, 111, 255})
    Host->Send(static_cast<std::uint8_t>(Cmd), "late");
  Host->Send(100, "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(Expect(*Technician, 100).Payload, "0123456789abcdef0123456789abcdef");
  Technician->Send(101, "proof");
  EXPECT_EQ(Expect(*Host, 101).Payload, "proof");

  Admit(*Host, *Technician);
  Technician->Send(105, std::string(8, '\0'));
  Expect(*Host, 105);
  Host->Send(111, "texto");
  EXPECT_EQ(Expect(*Technician, 111).Payload, "texto");
}

TEST_F(RelayProtocolTest, RefusesBrokenHellos) {
  for (const std::string Hello : {"", "3|A|tok", "2|X|tok", "2|C|no-key-separator", "2"}) {
    SCOPED_TRACE(Hello);
    auto Client = Connect();
    Client->Send(1, Hello);
    EXPECT_EQ(Expect(*Client, 10).Payload.substr(0, 6), "hello|");
    EXPECT_TRUE(Client->WaitClosed());
  }
}

TEST_F(RelayProtocolTest, AnswersBadTechnicianMessagesWithErrors) {
  auto Stranger = Connect();
  Stranger->Send(100, "before hello");
  Expect(*Stranger, 52);

  auto Technician = Connect();
  HelloTechnician(*Technician);
  // Unknown numbers, host-only control messages, a repeated hello, a session message while
  // unpaired and an empty message: each gets 52 and the connection stays usable.
  for (const int Cmd : {0, 17, 49, 51, 99, 117, 255, 2, 5, 8, 13, 16, 1, 100}) {
    SCOPED_TRACE(Cmd);
    Technician->Send(static_cast<std::uint8_t>(Cmd), "x");
    EXPECT_FALSE(Expect(*Technician, 52).Payload.empty());
  }
  Technician->SendRaw("");
  Expect(*Technician, 52);
  EXPECT_FALSE(Technician->Closed());
}

TEST_F(RelayProtocolTest, OversizedMessageClosesOnlyItsConnection) {
  auto A = Pair("key-a");
  auto B = Pair("key-b");
  // The largest message passes whole; one byte more closes that technician's connection.
  const std::string Largest(16 * 1024 * 1024, 'L');
  B.Host->Send(103, Largest);
  A.Technician->Send(114, Largest + "X");
  EXPECT_TRUE(A.Technician->WaitClosed(30s));
  EXPECT_EQ(Expect(*A.Host, 6).Payload, "");
  EXPECT_TRUE(Expect(*B.Technician, 103, 30s).Payload == Largest);

  // The other session is undisturbed and nothing crossed over.
  B.Technician->Send(101, "b");
  EXPECT_EQ(Expect(*B.Host, 101).Payload, "b");
  A.Host->Send(103, "a");
  B.Host->Send(103, "b");
  EXPECT_EQ(Expect(*B.Technician, 103).Payload, "b");
}

TEST_F(RelayProtocolTest, StopsReadingASenderWhosePeerDoesNotRead) {
  auto [Host, Technician, Id] = Pair("key");
  const std::string Chunk(1024 * 1024, 'B');
  // The technician reads nothing: soon the relay stops reading the host, whose writes stall
  // once the socket buffers are full, long before the relay holds much more than its limit.
  int Sent = 0;
  while (Sent < 200 && Host->TrySend(103, std::to_string(Sent) + ":" + Chunk, 2s)) ++Sent;
  EXPECT_GE(Sent, 32);
  EXPECT_LT(Sent, 90);
  // Reading resumes the host: everything arrives in order, then the stalled message can
  // finish (the next send waits for it) and what follows.
  const auto Number = [](const TMessage& AMessage) {
    return AMessage.Payload.substr(0, AMessage.Payload.find(':'));
  };
  for (int N = 0; N < Sent; ++N) ASSERT_EQ(Number(Expect(*Technician, 103)), std::to_string(N));
  Host->Send(103, "after");
  EXPECT_EQ(Number(Expect(*Technician, 103)), std::to_string(Sent));
  EXPECT_EQ(Expect(*Technician, 103).Payload, "after");
}

TEST(RelayNoop, SendsMessage9ToHostsOnly) {
  auto Options = TestOptions();
  Options.NoopInterval = 1;
  TRelayServer Server(Options);
  TRelayTestClient Host(Server.Port()), Technician(Server.Port());
  RegisterHost(Host, "", "key");
  HelloTechnician(Technician);
  Expect(Host, 9, 5s);
  EXPECT_FALSE(Technician.Receive(1500ms).has_value());
}

}  // namespace
}  // namespace halvora::relay::test
