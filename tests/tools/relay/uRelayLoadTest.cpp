// Many hosts at once and many sessions moving large messages at the same time.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "relay/uRelayServer.h"
#include "uRelayTestKit.h"

namespace halvora::relay::test {
namespace {

constexpr int HostCount = 200, SessionCount = 20, MessagesEachWay = 10;
constexpr std::size_t MessageSize = 1024 * 1024;

std::string Payload(int ASession, int AIndex) {
  std::string Result(MessageSize, static_cast<char>('a' + AIndex));
  const std::string Tag = std::to_string(ASession) + ":" + std::to_string(AIndex) + ":";
  Result.replace(0, Tag.size(), Tag);
  return Result;
}

// Runs AWork(I) for I in [0, ACount) on AThreads threads; a client that gives up fails the test.
template <class AWork>
void Parallel(int ACount, int AThreads, AWork AWorkItem) {
  std::vector<std::thread> Threads;
  for (int T = 0; T < AThreads; ++T)
    Threads.emplace_back([&, T] {
      try {
        for (int I = T; I < ACount; I += AThreads) AWorkItem(I);
      } catch (const std::exception& AException) {
        ADD_FAILURE() << AException.what();
      }
    });
  for (auto& Thread : Threads) Thread.join();
}

TEST(RelayLoad, ManyHostsAndBusySessions) {
  // Everybody comes from one address here, connects long before saying hello, and writes
  // everything before reading anything.
  auto Options = TestOptions();
  Options.Limits.HelloTimeout = 600;
  Options.Limits.ConnectionsPerAddress = 1000;
  Options.Limits.RegistrationsPerHour = 1000;
  Options.Limits.AddressQueueBudget = Options.Limits.QueueBudget;
  TRelayServer Server(Options);
  std::vector<std::unique_ptr<TRelayTestClient>> Hosts(HostCount);
  std::vector<std::string> Ids(HostCount);
  for (auto& Host : Hosts) Host = std::make_unique<TRelayTestClient>(Server.Port());
  // Every hello goes out before any welcome is read.
  Parallel(HostCount, 8, [&](int I) { Hosts[I]->Send(1, "2|C||key-" + std::to_string(I)); });
  Parallel(HostCount, 8, [&](int I) { Ids[I] = Expect(*Hosts[I], 2, 120s).Payload; });
  EXPECT_EQ(std::set<std::string>(Ids.begin(), Ids.end()).size(), std::size_t(HostCount));

  std::vector<std::unique_ptr<TRelayTestClient>> Technicians(SessionCount);
  for (int I = 0; I < SessionCount; ++I) {
    Expect(*Hosts[I], 14);
    Technicians[I] = std::make_unique<TRelayTestClient>(Server.Port());
    HelloTechnician(*Technicians[I]);
    ConnectTo(*Technicians[I], Ids[I], 0);
    Expect(*Hosts[I], 5);
    Admit(*Hosts[I], *Technicians[I]);
  }
  Parallel(SessionCount, SessionCount, [&](int I) {
    for (int N = 0; N < MessagesEachWay; ++N) {
      Hosts[I]->Send(103, Payload(I, N));
      Technicians[I]->Send(114, Payload(I, N));
    }
    for (int N = 0; N < MessagesEachWay; ++N) {
      EXPECT_TRUE(Expect(*Technicians[I], 103, 120s).Payload == Payload(I, N)) << I << ":" << N;
      EXPECT_TRUE(Expect(*Hosts[I], 114, 120s).Payload == Payload(I, N)) << I << ":" << N;
    }
  });
}

}  // namespace
}  // namespace halvora::relay::test
