// Injection through the worker and XTest on a private Xvfb:
// - BM_PostToXTest: from Post to the sink's pointer call, just before XTest is called (the
//   worker's wake-up, the item's hand-over and the monitor list read from the server);
//   median and 99th percentile as counters.
// - BM_Drain10000Moves: 10,000 pointer moves queued while the worker is held, then drained;
//   items per second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "input/uInputInjector.h"
#include "input/x11/uX11InputInjector.h"
#include "support/linux/uXvfb.h"

namespace halvora {
namespace {

using TClock = std::chrono::steady_clock;

constexpr std::uint16_t GateKey = 0xFFFF;  // unknown to the X11 sink

const test::TXvfb& Server() {
  static const test::TXvfb Server("1920x1080x24");
  return Server;
}

// What the worker's sink reports to the benchmark.
struct TProbe {
  std::atomic<std::uint64_t> Moves{0};
  std::atomic<TClock::rep> LastMoveAt{0};  // when the last SendMouse was entered
  std::mutex Lock;
  std::condition_variable Opened;
  bool GateOpen = true;
};

// The X11 sink with the probe in front of it; a key with GateKey holds the worker until
// the gate opens.
class TProbeSink final : public IInputSink {
 public:
  TProbeSink(std::unique_ptr<IInputSink> AInner, TProbe& AProbe)
      : FInner(std::move(AInner)), FProbe(AProbe) {}

  std::vector<TRect> GetMonitorRects() override { return FInner->GetMonitorRects(); }
  bool SwitchToInputDesktop() override { return FInner->SwitchToInputDesktop(); }
  void SendMouse(TPoint APos, TMouseAction AAction, std::int32_t AWheel) override {
    FProbe.LastMoveAt.store(TClock::now().time_since_epoch().count());
    FInner->SendMouse(APos, AAction, AWheel);
    FProbe.Moves.fetch_add(1);
  }
  void SendKey(std::uint16_t AVKey, bool ADown, bool AExtended) override {
    if (AVKey == GateKey) {
      std::unique_lock Guard(FProbe.Lock);
      FProbe.Opened.wait(Guard, [&] { return FProbe.GateOpen; });
      return;
    }
    FInner->SendKey(AVKey, ADown, AExtended);
  }
  bool IsKeyDown(std::uint16_t AVKey) override { return FInner->IsKeyDown(AVKey); }
  void FinishRelease() override { FInner->FinishRelease(); }

 private:
  std::unique_ptr<IInputSink> FInner;
  TProbe& FProbe;
};

TInputItem MoveItem(std::uint32_t AN) {
  TInputItem Item;
  Item.Kind = ikMouse;
  Item.Mouse = {0, static_cast<std::uint16_t>(AN * 7919 % 65536),
                static_cast<std::uint16_t>(AN * 104729 % 65536), 0, 0};
  return Item;
}

std::unique_ptr<TInputThread> StartWorker(TProbe& AProbe) {
  const std::string Display = Server().Display();
  auto Worker = std::make_unique<TInputThread>([Display, &AProbe] {
    return std::make_unique<TProbeSink>(NewX11InputSink(Display), AProbe);
  });
  // The first item makes the sink and its connections; not part of what is measured.
  Worker->Post(MoveItem(0));
  while (AProbe.Moves.load() == 0) std::this_thread::yield();
  return Worker;
}

void WaitForMoves(TProbe& AProbe, std::uint64_t ACount) {
  while (AProbe.Moves.load() < ACount) std::this_thread::yield();
}

void BM_PostToXTest(benchmark::State& AState) {
  TProbe Probe;
  const auto Worker = StartWorker(Probe);
  std::vector<double> Latencies;
  std::uint32_t N = 1;
  for (auto _ : AState) {
    const std::uint64_t Before = Probe.Moves.load();
    const TClock::time_point Posted = TClock::now();
    Worker->Post(MoveItem(N++));
    WaitForMoves(Probe, Before + 1);
    const auto Latency = TClock::duration(Probe.LastMoveAt.load()) - Posted.time_since_epoch();
    const double Seconds = std::chrono::duration<double>(Latency).count();
    AState.SetIterationTime(Seconds);
    Latencies.push_back(Seconds * 1e6);
  }
  std::sort(Latencies.begin(), Latencies.end());
  if (!Latencies.empty()) {
    AState.counters["median_us"] = Latencies[Latencies.size() / 2];
    AState.counters["p99_us"] = Latencies[Latencies.size() * 99 / 100];
  }
}
BENCHMARK(BM_PostToXTest)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(5000);

void BM_Drain10000Moves(benchmark::State& AState) {
  constexpr std::uint32_t Count = 10000;
  TProbe Probe;
  const auto Worker = StartWorker(Probe);
  TInputItem Gate;
  Gate.Kind = ikKey;
  Gate.Key = {GateKey, 1};
  std::uint32_t N = 1;
  for (auto _ : AState) {
    AState.PauseTiming();
    {
      std::lock_guard Guard(Probe.Lock);
      Probe.GateOpen = false;
    }
    Worker->Post(Gate);
    const std::uint64_t Before = Probe.Moves.load();
    for (std::uint32_t I = 0; I < Count; ++I) Worker->Post(MoveItem(N++));
    AState.ResumeTiming();
    {
      std::lock_guard Guard(Probe.Lock);
      Probe.GateOpen = true;
    }
    Probe.Opened.notify_all();
    WaitForMoves(Probe, Before + Count);
  }
  AState.SetItemsProcessed(static_cast<std::int64_t>(AState.iterations()) * Count);
}
BENCHMARK(BM_Drain10000Moves)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
}  // namespace halvora

BENCHMARK_MAIN();
