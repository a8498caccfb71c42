// A file transfer through the clipboard, in one process: the sending side's thread walks and
// reads the files, the messages cross a bounded queue (as they would a socket), and the
// receiving side writes them below its base folder on the bench's thread, as the main thread
// does in the program.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "clipboard/linux/uPosixClipFiles.h"
#include "clipboard/uClipboardSync.h"
#include "protocol/uProtocol.h"
#include "support/uTestFiles.h"
#include "uClipTestSupport.h"

namespace halvora {
namespace {

namespace fs = std::filesystem;

// Messages in flight between the two sides; the sender waits while it is full.
class TLink {
 public:
  explicit TLink(std::size_t ACapacity) : FCapacity(ACapacity) {}

  bool Send(std::uint8_t ACmd, const TIdBytes& APayload) {
    std::unique_lock Guard(FLock);
    FRoom.wait(Guard, [&] { return FMessages.size() < FCapacity; });
    FMessages.emplace_back(ACmd, APayload);
    FReady.notify_one();
    return true;
  }

  std::pair<std::uint8_t, TIdBytes> Receive() {
    std::unique_lock Guard(FLock);
    FReady.wait(Guard, [&] { return !FMessages.empty(); });
    auto Message = std::move(FMessages.front());
    FMessages.pop_front();
    FRoom.notify_one();
    return Message;
  }

 private:
  const std::size_t FCapacity;
  std::mutex FLock;
  std::condition_variable FReady, FRoom;
  std::deque<std::pair<std::uint8_t, TIdBytes>> FMessages;
};

// 2000 files of 104,857 or 104,858 bytes: 209,715,200 bytes, the most one transfer carries.
const std::string& SourceFolder(const test::TTempFolder& ATemp) {
  static const std::string Folder = [&] {
    const std::string Root = ATemp.Path("source/pasta");
    fs::create_directories(Root);
    std::string Data(104858, '\0');
    for (std::size_t I = 0; I < Data.size(); ++I)
      Data[I] = static_cast<char>(I * 2654435761u >> 13);
    std::uint64_t Left = ClipMaxBytes;
    for (int I = 0; I < 2000; ++I) {
      const std::size_t Size =
          static_cast<std::size_t>(Left / static_cast<std::uint64_t>(2000 - I));
      std::ofstream(Root + "/arquivo-" + std::to_string(I) + ".bin", std::ios::binary)
          .write(Data.data(), static_cast<std::streamsize>(Size));
      Left -= Size;
    }
    return Root;
  }();
  return Folder;
}

void BM_FileTransfer(benchmark::State& AState) {
  static test::TTempFolder Temp;
  const std::string Source = SourceFolder(Temp);
  TMainQueue Queue;
  TPosixClipFiles Files;
  const auto Now = [] { return LocalTimeNow(); };
  test::TMemoryClipboard SenderBoard, ReceiverBoard;
  TClipboardSync Sender(SenderBoard, Files, Temp.Path("sender-base"), Now, Queue);
  TClipboardSync Receiver(ReceiverBoard, Files, Temp.Path("receiver-base"), Now, Queue);
  TLink Link(static_cast<std::size_t>(AState.range(0)));
  Sender.Activate(
      [&](std::uint8_t ACmd, const TIdBytes& APayload) { return Link.Send(ACmd, APayload); });
  Receiver.Activate([](std::uint8_t, const TIdBytes&) { return true; });
  benchmark::IterationCount Items = 0;
  Receiver.SetOnNotify([&](const std::string&) { ++Items; });

  for (auto _ : AState) {
    SenderBoard.CopyFiles({Source});
    for (;;) {
      const auto [Cmd, Payload] = Link.Receive();
      Receiver.HandlePacket(Cmd, Payload);
      if (Cmd == cmdClipFilesEnd) break;
    }
    AState.PauseTiming();
    Files.DeleteTree(Temp.Path("receiver-base"));
    AState.ResumeTiming();
  }
  if (Items != AState.iterations()) AState.SkipWithError("a transfer did not complete");
  Sender.Deactivate();
  Queue.ProcessPending();

  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * ClipMaxBytes));
  rusage Usage{};
  getrusage(RUSAGE_SELF, &Usage);
  AState.counters["peak_rss_MB"] = static_cast<double>(Usage.ru_maxrss) / 1024.0;
}
// The argument: messages the link holds (64 of up to 64 KiB: 4 MiB in flight at most).
BENCHMARK(BM_FileTransfer)->Arg(64)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace halvora

BENCHMARK_MAIN();
