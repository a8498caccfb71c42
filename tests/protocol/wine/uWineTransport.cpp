#include "protocol/wine/uWineTransport.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "base/uText.h"
#include "support/linux/uChildProcess.h"
#include "support/uHexBytes.h"

namespace halvora::test {

// The program under Wine and its line protocol (see uWinHttpProbeMain.cpp): every request
// carries a number, and a reader thread hands each answer to the call that waits for it.
class TProbeProcess {
 public:
  TProbeProcess();
  ~TProbeProcess();
  TProbeProcess(const TProbeProcess&) = delete;
  TProbeProcess& operator=(const TProbeProcess&) = delete;

  // Sends one request and waits for its answer: what follows "ok", or nothing when the
  // answer is "fail" or the program has ended.
  std::optional<std::string> Call(const std::string& ARequest);

 private:
  using TAnswer = std::optional<std::string>;

  void ReadAnswers();
  void Deliver(std::string_view ALine);

  std::unique_ptr<TChildProcess> FChild;
  int FStop = -1;         // an eventfd that ends the reader
  std::mutex FWriteLock;  // one request at a time on the program's input
  std::mutex FLock;       // guards FNextId, FWaiting and FEnded
  std::uint64_t FNextId = 0;
  std::map<std::uint64_t, std::promise<TAnswer>> FWaiting;
  bool FEnded = false;
  std::thread FReader;
};

namespace {

bool WriteAll(int AFd, std::string_view AData) {
  while (!AData.empty()) {
    const ssize_t Written = write(AFd, AData.data(), AData.size());
    if (Written < 0 && errno == EINTR) continue;
    if (Written <= 0) return false;
    AData.remove_prefix(static_cast<std::size_t>(Written));
  }
  return true;
}

// A word of a request: not empty, no blank.
bool IsWord(const std::string& AText) {
  return !AText.empty() && AText.find_first_of(" \t\r\n") == std::string::npos;
}

bool ChangeRoot(const std::string& APem, bool ATrust) {
  TProbeProcess Probe;
  return Probe.Call((ATrust ? "trust " : "distrust ") + HexText(APem.data(), APem.size()))
      .has_value();
}

}  // namespace

TProbeProcess::TProbeProcess() {
  // A program that ended makes writes to its input fail instead of ending the test.
  std::signal(SIGPIPE, SIG_IGN);
  // HALVORA_WINE is "env NAME=value... wine64": the environment goes to the child directly.
  const std::string_view Wine[] = {HALVORA_WINE};
  std::vector<std::string> Environment, Arguments;
  std::size_t Next = Wine[0] == "env" ? 1 : 0;
  for (; Next < std::size(Wine) && Wine[Next].find('=') != std::string_view::npos; ++Next)
    Environment.emplace_back(Wine[Next]);
  if (Next == std::size(Wine)) throw std::runtime_error("HALVORA_WINE names no program");
  const std::string Program(Wine[Next]);
  for (++Next; Next < std::size(Wine); ++Next) Arguments.emplace_back(Wine[Next]);
  Arguments.emplace_back(HALVORA_WINHTTP_PROBE);
  if (access(HALVORA_WINHTTP_PROBE, R_OK) != 0)
    throw std::runtime_error(HALVORA_WINHTTP_PROBE " is missing: build the Windows tree first");

  FStop = eventfd(0, EFD_CLOEXEC);
  if (FStop < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
  try {
    FChild = std::make_unique<TChildProcess>(TChildProcess::TPiped{}, Program, Arguments,
                                             Environment);
    FReader = std::thread([this] { ReadAnswers(); });
  } catch (...) {
    FChild.reset();
    close(FStop);
    throw;
  }
}

TProbeProcess::~TProbeProcess() {
  {
    // The end of its input closes the program's transport and ends the program.
    std::lock_guard Guard(FWriteLock);
    FChild->CloseInput();
  }
  FChild->Wait(std::chrono::seconds(10));
  const std::uint64_t One = 1;
  [[maybe_unused]] const auto Written = write(FStop, &One, sizeof One);
  FReader.join();
  close(FStop);
  FChild.reset();  // stops a program that did not end
}

std::optional<std::string> TProbeProcess::Call(const std::string& ARequest) {
  std::uint64_t Id = 0;
  std::future<TAnswer> Answer;
  {
    std::lock_guard Guard(FLock);
    if (FEnded) return std::nullopt;
    Id = ++FNextId;
    Answer = FWaiting[Id].get_future();
  }
  bool Written = false;
  {
    std::lock_guard Guard(FWriteLock);
    Written = WriteAll(FChild->InputFd(), std::to_string(Id) + " " + ARequest + "\n");
  }
  if (!Written) {
    std::lock_guard Guard(FLock);
    FWaiting.erase(Id);
    return std::nullopt;
  }
  return Answer.get();
}

void TProbeProcess::Deliver(std::string_view ALine) {
  std::uint64_t Id = 0;
  const auto Space = ALine.find(' ');
  const std::string_view IdText = ALine.substr(0, Space);
  if (std::from_chars(IdText.data(), IdText.data() + IdText.size(), Id).ec != std::errc{})
    return;
  const std::string_view Rest = Space == std::string_view::npos ? "" : ALine.substr(Space + 1);
  TAnswer Result;
  if (Rest == "ok")
    Result = "";
  else if (Rest.starts_with("ok "))
    Result = std::string(Rest.substr(3));
  std::lock_guard Guard(FLock);
  if (const auto Waiting = FWaiting.find(Id); Waiting != FWaiting.end()) {
    Waiting->second.set_value(std::move(Result));
    FWaiting.erase(Waiting);
  }
}

void TProbeProcess::ReadAnswers() {
  std::string Pending;
  std::size_t Scanned = 0;  // Pending holds no line end before this
  std::vector<char> Buffer(1 << 16);
  pollfd Watch[2] = {{FChild->OutputFd(), POLLIN, 0}, {FStop, POLLIN, 0}};
  for (;;) {
    if (poll(Watch, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (Watch[1].revents != 0) break;
    const ssize_t Count = read(Watch[0].fd, Buffer.data(), Buffer.size());
    if (Count < 0 && errno == EINTR) continue;
    if (Count <= 0) break;
    Pending.append(Buffer.data(), static_cast<std::size_t>(Count));
    std::size_t Start = 0, End = 0;
    while ((End = Pending.find('\n', Scanned)) != std::string::npos) {
      Deliver(std::string_view(Pending).substr(Start, End - Start));
      Start = Scanned = End + 1;
    }
    Pending.erase(0, Start);
    Scanned = Pending.size();
  }
  std::lock_guard Guard(FLock);
  FEnded = true;
  for (auto& [Id, Waiting] : FWaiting) Waiting.set_value(std::nullopt);
  FWaiting.clear();
}

TWineTransport::TWineTransport() : FProbe(std::make_unique<TProbeProcess>()) {}

TWineTransport::~TWineTransport() = default;

bool TWineTransport::Open(const std::string& AHost, std::uint16_t APort,
                          const std::string& APath, bool ASecure) {
  if (!IsWord(AHost) || !IsWord(APath)) return false;
  return FProbe
      ->Call("open " + AHost + " " + std::to_string(APort) + " " + APath +
             (ASecure ? " 1" : " 0"))
      .has_value();
}

bool TWineTransport::Receive(std::uint8_t* ABuffer, std::size_t ASize, std::size_t& ARead,
                             TBufferType& AType) {
  ARead = 0;
  const auto Answer = FProbe->Call("receive " + std::to_string(ASize));
  if (!Answer) return false;
  std::istringstream Words(*Answer);
  int Type = -1;
  std::string Hex;
  Words >> Type >> Hex;
  TIdBytes Bytes;
  if (Type < 0 || Type > static_cast<int>(TBufferType::btClose) || !ParseHex(Hex, Bytes) ||
      Bytes.size() > ASize)
    return false;
  std::copy(Bytes.begin(), Bytes.end(), ABuffer);
  ARead = Bytes.size();
  AType = static_cast<TBufferType>(Type);
  return true;
}

bool TWineTransport::Send(const TIdBytes& AFrame) {
  return FProbe->Call("send " + HexText(AFrame.data(), AFrame.size())).has_value();
}

void TWineTransport::Close() {
  FProbe->Call("close");
}

TWineTransportFactory::TWineTransportFactory(std::string ACaPem) : FCaPem(std::move(ACaPem)) {
  if (!FCaPem.empty() && !ChangeRoot(FCaPem, true))
    throw std::runtime_error("the Wine prefix did not take the CA certificate");
}

TWineTransportFactory::~TWineTransportFactory() {
  try {
    if (!FCaPem.empty()) ChangeRoot(FCaPem, false);
  } catch (...) {
  }
}

std::shared_ptr<IRelayTransport> TWineTransportFactory::NewTransport() {
  return std::make_shared<TWineTransport>();
}

}  // namespace halvora::test
