// The registry with stand-in connections and a clock the test moves: deadlines, back-offs and
// rate limits, without waiting.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>

#include "relay/uRelayRegistry.h"
#include "relay/uRelayStore.h"
#include "relay/uRelayWire.h"

namespace halvora::relay {
namespace {

using namespace std::chrono_literals;

class TTestClock final : public IRelayClock {
 public:
  TRelayTime Now() const override { return FNow; }
  void Advance(std::chrono::milliseconds AStep) { FNow += AStep; }

 private:
  TRelayTime FNow = TRelayTime() + 1h;
};

// A connection that keeps what the registry sends it.
class TFakePeer final : public TRelayPeer {
 public:
  TFakePeer(std::uint64_t AId, std::string AAddress) : FId(AId), FAddress(std::move(AAddress)) {}

  std::uint64_t ConnectionId() const override { return FId; }
  const std::string& Address() const override { return FAddress; }
  void AllowLargeMessages() override { Large = true; }
  void Send(std::string AMessage) override {
    std::lock_guard Guard(FLock);
    FSent.push_back(std::move(AMessage));
  }
  void Close() override { Closed = true; }
  bool WaitForRoom(std::function<void()>) override { return false; }

  // Number and payload of every message sent since the last call, "cmd:payload" each.
  std::vector<std::string> Take() {
    std::lock_guard Guard(FLock);
    std::vector<std::string> Result;
    for (const auto& Message : FSent)
      Result.push_back(std::to_string(static_cast<std::uint8_t>(Message[0])) + ":" +
                       Message.substr(1));
    FSent.clear();
    return Result;
  }
  std::string Last() {
    const auto All = Take();
    return All.empty() ? "" : All.back();
  }

  bool Closed = false, Large = false;

 private:
  const std::uint64_t FId;
  const std::string FAddress;
  std::mutex FLock;
  std::vector<std::string> FSent;
};

using TStrings = std::vector<std::string>;

class RelayRegistryTest : public ::testing::Test {
 protected:
  explicit RelayRegistryTest(TRelayLimits ALimits = {})
      : Registry(Store, {{}, {}, ALimits}, Clock) {}

  std::shared_ptr<TFakePeer> Open(const std::string& AAddress) {
    auto Peer = std::make_shared<TFakePeer>(++FNextId, AAddress);
    Registry.Open(Peer);
    return Peer;
  }
  void Say(TFakePeer& APeer, std::uint8_t ACmd, const std::string& APayload = {}) {
    Registry.Handle(APeer.ConnectionId(), MakeMessage(ACmd, APayload));
  }
  // A host's hello with AId, which becomes the ID of the welcome, or empty without one.
  std::shared_ptr<TFakePeer> Host(const std::string& AAddress, std::string& AId) {
    auto Peer = Open(AAddress);
    Say(*Peer, cmdHello, "2|C|" + AId + "|key");
    const auto Sent = Peer->Take();
    AId = !Sent.empty() && Sent[0].rfind("2:", 0) == 0 ? Sent[0].substr(2) : "";
    return Peer;
  }
  std::shared_ptr<TFakePeer> Technician(const std::string& AAddress,
                                        const std::string& AToken = {}) {
    auto Peer = Open(AAddress);
    Say(*Peer, cmdHello, "2|A|" + AToken);
    Peer->Take();
    return Peer;
  }
  // The answer (message 51) to a request for AId.
  std::string Ask(TFakePeer& ATechnician, const std::string& AId) {
    Say(ATechnician, cmdConnectHost, AId + "|Ana|");
    return ATechnician.Last();
  }
  void Advance(std::chrono::milliseconds AStep) {
    Clock.Advance(AStep);
    Registry.Tick();
  }

  TTestClock Clock;
  TRelayStore Store{":memory:"};
  TRelayRegistry Registry;

 private:
  std::uint64_t FNextId = 0;
};

TEST_F(RelayRegistryTest, SilentConnectionsAndUnadmittedPairingsEndInTime) {
  std::string Id;
  const auto Silent = Open("10.0.0.1");
  const auto Technician = this->Technician("10.0.0.2");
  const auto Host = this->Host("10.0.0.3", Id);
  Advance(9999ms);
  EXPECT_FALSE(Silent->Closed);
  EXPECT_EQ(Ask(*Technician, Id), "51:0|Conectado.|senha");
  EXPECT_EQ(Host->Take().size(), 1u);

  SCOPED_TRACE("the hello is due 10 s after the upgrade; those who said it stay");
  Advance(1ms);
  EXPECT_TRUE(Silent->Closed);
  EXPECT_FALSE(Technician->Closed || Host->Closed);

  SCOPED_TRACE("the host has 10 s to admit the technician");
  Advance(9998ms);
  EXPECT_EQ(Host->Take(), TStrings());
  Advance(1ms);
  EXPECT_EQ(Host->Take(), TStrings{"6:"});
  EXPECT_EQ(Technician->Take(), TStrings{"6:O acesso não foi confirmado a tempo. Tente de novo."});

  SCOPED_TRACE("the host is free again; an admitted session has no deadline");
  const auto Next = this->Technician("10.0.0.4");
  EXPECT_EQ(Ask(*Next, Id), "51:0|Conectado.|senha");
  EXPECT_FALSE(Next->Large);
  Say(*Host, cmdProofAccepted);
  EXPECT_TRUE(Next->Large);
  Host->Take();
  Advance(60s);
  EXPECT_EQ(Host->Take(), TStrings());
  EXPECT_EQ(Next->Take(), TStrings());
}

// Message 102 admits only as the flag byte 1 itself; anything longer or else is no admission.
TEST_F(RelayRegistryTest, AdmitsOnlyOnTheFlagByteOne) {
  std::string Id;
  const auto Host = this->Host("10.0.0.9", Id);
  const auto Technician = this->Technician("10.0.0.1");
  ASSERT_EQ(Ask(*Technician, Id), "51:0|Conectado.|senha");
  for (const std::string& Payload : {std::string("\x01\x01"), std::string("\x02"), std::string()}) {
    Say(*Host, cmdAccessResult, Payload);
    EXPECT_FALSE(Technician->Large);
  }
  Say(*Host, cmdAccessResult, "\x01");
  EXPECT_TRUE(Technician->Large);
}

TEST_F(RelayRegistryTest, FailedPairingsHoldBackTheAddressThenTheHost) {
  std::string Id;
  const auto Host = this->Host("10.0.0.9", Id);
  ASSERT_EQ(Store.AddPermanent(Id, "tok", "Empresa"), 1);
  const auto Attacker = Technician("10.0.0.1");
  const auto Wrong = [&] {  // a wrong proof, as the host answers it
    ASSERT_EQ(Ask(*Attacker, Id), "51:0|Conectado.|senha");
    Say(*Host, cmdAccessResult, std::string(1, '\0'));
    Say(*Host, cmdHostEnd);
  };

  SCOPED_TRACE("a first failure is free; the second holds the address back 10 s");
  Wrong();
  EXPECT_EQ(Ask(*Attacker, Id), "51:0|Conectado.|senha");
  Say(*Attacker, cmdHostEnd);  // leaving before admission is a failure too
  EXPECT_EQ(Ask(*Attacker, Id), "51:5|Muitas tentativas. Aguarde 10 s e tente de novo.|");

  SCOPED_TRACE("a third failure with the host, from elsewhere, holds the host back 5 s");
  const auto Other = Technician("10.0.0.2");
  EXPECT_EQ(Ask(*Other, Id), "51:0|Conectado.|senha");
  Advance(10s);  // the pairing lapses
  EXPECT_EQ(Ask(*Attacker, Id), "51:5|Muitas tentativas. Aguarde 5 s e tente de novo.|");
  const auto Third = Technician("10.0.0.3");
  EXPECT_EQ(Ask(*Third, Id), "51:5|Muitas tentativas. Aguarde 5 s e tente de novo.|");

  SCOPED_TRACE("permanent access is not held back, and its admission frees the host");
  const auto Trusted = Technician("10.0.0.4", "tok");
  EXPECT_EQ(Ask(*Trusted, Id), "51:0|Conectado.|permanente");
  Say(*Host, cmdAccessResult, "\x01");
  Say(*Trusted, cmdHostEnd);
  EXPECT_EQ(Ask(*Third, Id), "51:0|Conectado.|senha");
  Say(*Host, cmdHostEnd);

  SCOPED_TRACE("the attacker's own wait doubles with its next failure");
  Advance(10s);
  Wrong();
  EXPECT_EQ(Ask(*Attacker, Id), "51:5|Muitas tentativas. Aguarde 20 s e tente de novo.|");
}

TEST_F(RelayRegistryTest, LimitsRequestsAndRegistrationsPerConnectionAndAddress) {
  const auto Busy = Technician("10.0.0.1");
  for (int I = 0; I < 10; ++I) EXPECT_EQ(Ask(*Busy, "000000001").substr(0, 5), "51:1|") << I;
  SCOPED_TRACE("one connection: 10 a minute");
  EXPECT_EQ(Ask(*Busy, "000000001"), "51:5|Muitas tentativas. Aguarde 6 s e tente de novo.|");

  SCOPED_TRACE("one address: 30 a minute, whatever the connections");
  std::vector<std::shared_ptr<TFakePeer>> More;
  for (int I = 0; I < 3; ++I) More.push_back(Technician("10.0.0.1"));
  for (int I = 0; I < 20; ++I) EXPECT_EQ(Ask(*More[I % 3], "000000001").substr(0, 5), "51:1|") << I;
  EXPECT_EQ(Ask(*More[2], "000000001"), "51:5|Muitas tentativas. Aguarde 2 s e tente de novo.|");
  EXPECT_EQ(Ask(*Technician("10.0.0.2"), "000000001").substr(0, 5), "51:1|");
  Advance(2s);
  EXPECT_EQ(Ask(*More[2], "000000001").substr(0, 5), "51:1|");

  SCOPED_TRACE("new host IDs: 30 an hour from one address; known IDs come back freely");
  std::vector<std::string> Ids;
  for (int I = 0; I < 30; ++I) {
    std::string Id;
    Host("10.0.0.5", Id);
    Ids.push_back(Id);
  }
  EXPECT_EQ(Ids.back().size(), 9u);
  for (const std::string Id : {"", "555000111"}) {
    const auto Refused = Open("10.0.0.5");
    Say(*Refused, cmdHello, "2|C|" + Id + "|key");
    EXPECT_EQ(Refused->Last(),
              "10:registro|Muitos computadores novos registrados deste endereço. Tente mais "
              "tarde.|");
    EXPECT_TRUE(Refused->Closed);
  }
  std::string Known = Ids.front(), Elsewhere;
  Host("10.0.0.5", Known);
  EXPECT_EQ(Known, Ids.front());
  Host("10.0.0.6", Elsewhere);
  EXPECT_EQ(Elsewhere.size(), 9u);
  Advance(120s);
  std::string Later;
  Host("10.0.0.5", Later);
  EXPECT_EQ(Later.size(), 9u);
}

}  // namespace
}  // namespace halvora::relay
