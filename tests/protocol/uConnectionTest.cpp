// The relay client's connection cycle over a scripted transport.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "protocol/uConnection.h"
#include "protocol/uProtocol.h"
#include "support/uTestClock.h"
#include "support/uTestLoop.h"

namespace halvora {
namespace {

using test::TTestClock;
using test::TTestLoop;

// A transport whose Open blocks until the test lets it finish or someone closes it.
class TGateTransport final : public IRelayTransport {
 public:
  bool Open(const std::string&, std::uint16_t, const std::string&, bool) override {
    std::unique_lock Guard(FLock);
    FOpening = true;
    FChanged.notify_all();
    FChanged.wait(Guard, [&] { return FClosed || FOpenResult.has_value(); });
    return !FClosed && *FOpenResult;
  }
  bool Receive(std::uint8_t*, std::size_t, std::size_t& ARead, TBufferType& AType) override {
    std::unique_lock Guard(FLock);
    FChanged.wait(Guard, [&] { return FClosed; });
    ARead = 0;
    AType = TBufferType::btClose;
    return false;
  }
  bool Send(const TIdBytes& AFrame) override {
    std::lock_guard Guard(FLock);
    FSent.push_back(AFrame);
    FChanged.notify_all();
    return !FClosed;
  }
  void Close() override {
    std::lock_guard Guard(FLock);
    FClosed = true;
    FChanged.notify_all();
  }

  void FinishOpen(bool AResult) {
    std::lock_guard Guard(FLock);
    FOpenResult = AResult;
    FChanged.notify_all();
  }
  bool WaitOpening() {
    std::unique_lock Guard(FLock);
    return FChanged.wait_for(Guard, std::chrono::seconds(10), [&] { return FOpening; });
  }
  std::size_t SentCount() {
    std::lock_guard Guard(FLock);
    return FSent.size();
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FOpening = false;
  bool FClosed = false;
  std::optional<bool> FOpenResult;
  std::deque<TIdBytes> FSent;
};

class TGateFactory final : public ITransportFactory {
 public:
  std::shared_ptr<IRelayTransport> NewTransport() override {
    std::lock_guard Guard(FLock);
    FMade.push_back(std::make_shared<TGateTransport>());
    FChanged.notify_all();
    return FMade.back();
  }
  std::shared_ptr<TGateTransport> WaitMade(std::size_t AIndex) {
    std::unique_lock Guard(FLock);
    if (!FChanged.wait_for(Guard, std::chrono::seconds(10), [&] { return FMade.size() > AIndex; }))
      return nullptr;
    return FMade[AIndex];
  }
  std::size_t MadeCount() {
    std::lock_guard Guard(FLock);
    return FMade.size();
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<std::shared_ptr<TGateTransport>> FMade;
};

struct RelayClientCycle : ::testing::Test {
  TTestLoop Loop;
  TTestClock Clock;
  std::shared_ptr<TGateFactory> Factory = std::make_shared<TGateFactory>();

  std::unique_ptr<TRelayClient> Connect(std::string_view AUrl) {
    return TRelayClient::CreateCliente(AUrl, "123456789", "key",
                                       TRelayEnvironment{Factory, &Clock, &Loop.Queue()});
  }
};

TEST(RelayUrl, IsTakenApartIntoSchemeHostPortAndPath) {
  struct TCase {
    const char* Url;
    bool Secure;
    const char* Host;
    int Port;
    const char* Path;
  };
  const TCase Cases[] = {
      {"wss://10.0.0.5/relay", true, "10.0.0.5", 443, "/relay"},
      {"ws://10.0.0.5:7800/relay", false, "10.0.0.5", 7800, "/relay"},
      {"10.0.0.5:9000", true, "10.0.0.5", 9000, "/relay"},
      {"HTTPS://10.0.0.5", true, "10.0.0.5", 443, "/relay"},
      {"http://relay.example.org", false, "relay.example.org", 80, "/relay"},
      {"ftp://10.0.0.5", false, "10.0.0.5", 80, "/relay"},
      {"wss://10.0.0.5:abc/x?y=1", true, "10.0.0.5", 443, "/x?y=1"},
      {"  ws://host:81/a:b/c  ", false, "host", 81, "/a:b/c"},
      {"ws://host:70000/", false, "host", 70000, "/"},
      {"ws://host:-1", false, "host", -1, "/relay"},
      {"ws://host:99999999999", false, "host", 80, "/relay"},
      {"", true, "", 443, "/relay"},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Url);
    const TRelayUrl Url = TRelayClient::ParseUrl(Case.Url);
    EXPECT_EQ(Url.Secure, Case.Secure);
    EXPECT_EQ(Url.Host, Case.Host);
    EXPECT_EQ(Url.Port, Case.Port);
    EXPECT_EQ(Url.Path, Case.Path);
  }
}

TEST_F(RelayClientCycle, AnAddressThatCannotConnectRetriesEvery3sWithoutANotice) {
  for (const char* Url : {"", "ws://host:0/relay", "ws://host:65536/relay"}) {
    SCOPED_TRACE(Url);
    TTestClock UrlClock;
    auto Client = TRelayClient::CreateCliente(
        Url, "1", "k", TRelayEnvironment{Factory, &UrlClock, &Loop.Queue()});
    ASSERT_TRUE(UrlClock.WaitForWaiters(1));
    UrlClock.Advance(3000);
    ASSERT_TRUE(UrlClock.WaitForWaits(2));
    EXPECT_EQ(UrlClock.Waits(), (std::vector<std::uint32_t>{3000, 3000}));
    EXPECT_EQ(Loop.Queue().PendingCount(), 0u);
  }
  EXPECT_EQ(Factory->MadeCount(), 0u);
}

TEST_F(RelayClientCycle, SendFailsWhileConnectingAndWhileWaiting) {
  auto Client = Connect("ws://relay.test/relay");
  auto First = Factory->WaitMade(0);
  ASSERT_TRUE(First && First->WaitOpening());
  EXPECT_FALSE(Client->Send(cmdKeepAlive, {}));
  First->FinishOpen(false);
  ASSERT_TRUE(Clock.WaitForWaiters(1));
  EXPECT_FALSE(Client->Send(cmdKeepAlive, {}));
  EXPECT_EQ(First->SentCount(), 0u);
}

TEST_F(RelayClientCycle, DestroyingDuringABlockedOpenReturnsAndNotifiesNothing) {
  bool Notified = false;
  auto Client = Connect("ws://relay.test/relay");
  Client->SetOnOnline([&](bool) { Notified = true; });
  auto First = Factory->WaitMade(0);
  ASSERT_TRUE(First && First->WaitOpening());
  Client.reset();  // closes the attempt, which ends the blocked open
  Loop.RunPending();
  EXPECT_FALSE(Notified);
}

}  // namespace
}  // namespace halvora
