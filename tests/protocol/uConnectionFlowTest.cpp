// Received messages wait for the main thread in a bounded amount: a peer that sends faster
// than the main thread takes them is held back, and nothing is lost or reordered.
#include <gtest/gtest.h>

#include "protocol/uConnection.h"
#include "protocol/uProtocol.h"
#include "support/uScriptTransport.h"
#include "support/uTestClock.h"
#include "support/uTestLoop.h"

namespace halvora {
namespace {

TEST(RelayClientFlow, HoldsOffWhileMoreThan8MiBWaitForTheMainThread) {
  test::TTestLoop Loop;
  test::TTestClock Clock;
  const auto Relay = std::make_shared<test::TScriptRelay>();
  std::vector<int> Arrived;
  {
    auto Client = TRelayClient::CreateCliente(
        "ws://relay.test/relay", "123456789", "key", TRelayEnvironment{Relay, &Clock, &Loop.Queue()});
    Client->SetOnPacket([&](std::uint8_t ACmd, const TIdBytes& APayload) {
      if (ACmd == cmdClipFileData) Arrived.push_back(APayload.at(0));
    });
    TIdBytes Hello;
    ASSERT_TRUE(Relay->NextSent(Hello));  // connected
    for (int I = 0; I < 20; ++I) {
      TIdBytes Message(1 + 1024 * 1024, static_cast<std::uint8_t>(I));
      Message[0] = cmdClipFileData;
      Relay->Push(std::move(Message));
    }
    // Nine messages (9 MiB) wait besides the online notice; the tenth is held back.
    ASSERT_TRUE(Clock.WaitForWaiters(1));
    EXPECT_EQ(Loop.Queue().PendingCount(), 10u);
    ASSERT_TRUE(Loop.RunUntil([&] { return Arrived.size() == 20; })) << Arrived.size() << " " << Loop.Queue().PendingCount();
  }
  std::vector<int> InOrder(20);
  for (int I = 0; I < 20; ++I) InOrder[I] = I;
  EXPECT_EQ(Arrived, InOrder);
}

}  // namespace
}  // namespace halvora
