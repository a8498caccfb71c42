// Relay client over loopback: throughput of Send with 1 MiB messages, and the round trip of
// a small message (sent by the client, echoed by the server, caught by the direct hook).
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>

#include "protocol/beast/uBeastTransport.h"
#include "protocol/uConnection.h"
#include "support/uTestPki.h"
#include "support/uTestWsServer.h"

namespace halvora {
namespace {

using namespace std::chrono_literals;

struct TLink {
  explicit TLink(bool ASecure, test::TServerMode AMode) : Server(Options(ASecure, AMode)) {
    TBeastOptions Transport;
    Transport.ExtraCaPem = Pki().CaCertPem;
    Transport.UseSystemStore = false;
    const std::string Url = std::string(ASecure ? "wss" : "ws") + "://localhost:" +
                            std::to_string(Server.Port()) + "/relay";
    Client = TRelayClient::CreateCliente(
        Url, "123456789", "key",
        TRelayEnvironment{std::make_shared<TBeastTransportFactory>(Transport), &SystemClock(),
                          &Queue});
    Client->SetOnDirectPacket([this](std::uint8_t, const TIdBytes&) {
      std::lock_guard Guard(Lock);
      ++Echoes;
      Arrived.notify_all();
      return true;
    });
    // The hello reaches the server once the client is online.
    Server.WaitMessages(1, 10s);
  }

  static const test::TTestPki& Pki() {
    static const test::TTestPki Value = test::MakeTestPki({"localhost"}, {});
    return Value;
  }
  static test::TServerOptions Options(bool ASecure, test::TServerMode AMode) {
    test::TServerOptions Result;
    Result.Secure = ASecure;
    Result.CertPem = Pki().ServerCertPem;
    Result.KeyPem = Pki().ServerKeyPem;
    Result.Mode = AMode;
    return Result;
  }

  void WaitEchoes(std::uint64_t ACount) {
    std::unique_lock Guard(Lock);
    Arrived.wait_for(Guard, 10s, [&] { return Echoes >= ACount; });
  }

  TMainQueue Queue;
  test::TTestWsServer Server;
  std::unique_ptr<TRelayClient> Client;
  std::mutex Lock;
  std::condition_variable Arrived;
  std::uint64_t Echoes = 0;
};

void BM_SendThroughput1MiB(benchmark::State& AState) {
  TLink Link(AState.range(0) != 0, test::TServerMode::smSink);
  const TIdBytes Payload(1 << 20, 0xA5);
  std::uint64_t Sent = Link.Server.MessagesReceived();
  for (auto _ : AState) {
    if (!Link.Client->Send(200, Payload)) AState.SkipWithError("send failed");
    ++Sent;
  }
  Link.Server.WaitMessages(Sent, 30s);  // the last messages are in the socket buffers
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations()) * (Payload.size() + 1));
}
BENCHMARK(BM_SendThroughput1MiB)->Arg(0)->Arg(1)->ArgName("wss")->UseRealTime();

void BM_SmallRoundTrip(benchmark::State& AState) {
  TLink Link(AState.range(0) != 0, test::TServerMode::smEcho);
  const TIdBytes Payload(16, 0x11);
  std::uint64_t Expected = 0;
  Link.WaitEchoes(1);  // the echoed hello
  {
    std::lock_guard Guard(Link.Lock);
    Expected = Link.Echoes;
  }
  for (auto _ : AState) {
    if (!Link.Client->Send(200, Payload)) AState.SkipWithError("send failed");
    Link.WaitEchoes(++Expected);
  }
}
BENCHMARK(BM_SmallRoundTrip)->Arg(0)->Arg(1)->ArgName("wss")->UseRealTime();

}  // namespace
}  // namespace halvora

BENCHMARK_MAIN();
