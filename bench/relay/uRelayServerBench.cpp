// The relay on loopback: messages/s and bytes/s from a host to its technician for several
// message sizes, several sessions at once, and the round trip of a small message.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <thread>

#include "relay/uRelayServer.h"
#include "uRelayTestClient.h"

namespace halvora::relay {
namespace {

using test::TRelayTestClient;

TRelayOptions BenchOptions() {
  TRelayOptions Options;
  Options.Port = 0;
  Options.Database = ":memory:";
  Options.NoopInterval = 0;
  Options.Quiet = true;
  // Every peer comes from one address here, many sessions are set up in a row, and the
  // parallel runs write everything before they read.
  Options.Limits.ConnectionsPerAddress = 1000;
  Options.Limits.ConnectsPerMinute = 1000000;
  Options.Limits.RegistrationsPerHour = 1000000;
  Options.Limits.QueueBudget = Options.Limits.AddressQueueBudget = 4096;
  return Options;
}

TRelayServer& Server() {
  static TRelayServer Value(BenchOptions());
  return Value;
}

std::string Receive(TRelayTestClient& AClient, std::uint8_t ACmd) {
  const auto Message = AClient.Receive(std::chrono::seconds(30));
  if (!Message || Message->Cmd != ACmd)
    throw std::runtime_error("unexpected answer from the relay");
  return Message->Payload;
}

// Runs AWork; a relay that stops answering ends the program with a message.
template <class AWork>
void Guarded(AWork AWorkItem) {
  try {
    AWorkItem();
  } catch (const std::exception& AException) {
    std::fprintf(stderr, "relay_server_bench: %s\n", AException.what());
    std::exit(1);
  }
}

// A host and a technician paired through the relay, and admitted by the host.
struct TSession {
  TSession()
      : Host(std::make_unique<TRelayTestClient>(Server().Port())),
        Technician(std::make_unique<TRelayTestClient>(Server().Port())) {
    Host->Send(1, "2|C||bench");
    const std::string Id = Receive(*Host, 2);
    Receive(*Host, 14);
    Technician->Send(1, "2|A|");
    Receive(*Technician, 2);
    Technician->Send(50, Id + "|Bench|");
    Receive(*Technician, 51);
    Receive(*Host, 5);
    Host->Send(11);
    Host->Send(102, "\x01");
    Receive(*Technician, 102);
  }
  std::unique_ptr<TRelayTestClient> Host, Technician;
};

// Host → technician, messages of state.range(0) bytes, sent by one thread, read by another.
void BM_HostToTechnician(benchmark::State& AState) {
  TSession Session;
  const std::string Payload(static_cast<std::size_t>(AState.range(0)) - 1, 'x');
  const auto Count = AState.max_iterations;
  std::thread Sender([&] {
    Guarded([&] {
      for (benchmark::IterationCount I = 0; I < Count; ++I) Session.Host->Send(103, Payload);
    });
  });
  Guarded([&] {
    for (auto _ : AState) benchmark::DoNotOptimize(Receive(*Session.Technician, 103));
  });
  Sender.join();
  AState.SetItemsProcessed(AState.iterations());
  AState.SetBytesProcessed(AState.iterations() * AState.range(0));
}
BENCHMARK(BM_HostToTechnician)->Arg(64)->Arg(16 * 1024)->Arg(1024 * 1024)->UseRealTime();

// state.range(0) sessions at once, each moving 16 messages of 1 MiB each way.
void BM_ParallelSessions(benchmark::State& AState) {
  constexpr int Messages = 16;
  constexpr std::size_t Size = 1024 * 1024;
  const auto Count = static_cast<std::size_t>(AState.range(0));
  std::vector<TSession> Sessions(Count);
  const std::string Payload(Size - 1, 'y');
  for (auto _ : AState) {
    std::vector<std::thread> Threads;
    for (auto& Session : Sessions) {
      Threads.emplace_back([&] {
        Guarded([&] {
          for (int I = 0; I < Messages; ++I) Session.Host->Send(103, Payload);
          for (int I = 0; I < Messages; ++I) Receive(*Session.Host, 114);
        });
      });
      Threads.emplace_back([&] {
        Guarded([&] {
          for (int I = 0; I < Messages; ++I) Session.Technician->Send(114, Payload);
          for (int I = 0; I < Messages; ++I) Receive(*Session.Technician, 103);
        });
      });
    }
    for (auto& Thread : Threads) Thread.join();
  }
  const auto Moved = AState.iterations() * static_cast<std::int64_t>(Count) * 2 * Messages;
  AState.SetItemsProcessed(Moved);
  AState.SetBytesProcessed(Moved * static_cast<std::int64_t>(Size));
}
BENCHMARK(BM_ParallelSessions)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// A small message to the technician and its answer back to the host.
void BM_RoundTrip(benchmark::State& AState) {
  TSession Session;
  for (auto _ : AState) {
    Session.Host->Send(103, "ping");
    Receive(*Session.Technician, 103);
    Session.Technician->Send(104);
    Receive(*Session.Host, 104);
  }
  AState.SetItemsProcessed(AState.iterations());
}
BENCHMARK(BM_RoundTrip)->UseRealTime();

}  // namespace
}  // namespace halvora::relay

BENCHMARK_MAIN();
