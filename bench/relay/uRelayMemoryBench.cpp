// The relay process under attack on loopback: its memory (VmRSS and VmHWM) before and after,
// and whether a host's rightful technician still gets in while others keep pairing with the
// host and never answer. Attackers come from 127.0.0.2 and up, the rightful technician from
// 127.0.0.3, so per-address limits apply as they would to different computers.
//
//   relay_memory_bench [--relay PROGRAM] [--attack-seconds N]
//
// PROGRAM defaults to the halvora-relay built with this program; give an older build to
// compare. Every loop is bounded; the run takes about a minute and a half.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/linux/uChildProcess.h"
#include "uRelayTestClient.h"

namespace halvora::relay {
namespace {

using namespace std::chrono_literals;
using test::TRelayTestClient;
using TClock = std::chrono::steady_clock;

constexpr std::size_t MiBytes = 1024 * 1024;

// The relay as a child process on a free port.
class TRelayProcess {
 public:
  explicit TRelayProcess(const std::string& AProgram) {
    char Folder[] = "/tmp/relay-memory-bench-XXXXXX";
    if (!mkdtemp(Folder)) throw std::runtime_error("no temporary folder");
    FFolder = Folder;
    const std::string PortFile = FFolder + "/port";
    FProcess = std::make_unique<halvora::test::TChildProcess>(
        AProgram,
        std::vector<std::string>{"--listen", "127.0.0.1:0", "--db", ":memory:", "--port-file",
                                 PortFile, "--noop-interval", "0", "--quiet"},
        std::vector<std::string>{}, FFolder + "/stdout");
    std::string Text;
    halvora::test::WaitUntil([&] {
      std::ifstream File(PortFile);
      std::getline(File, Text);
      return !Text.empty();
    });
    if (Text.empty()) throw std::runtime_error("the relay did not start: " + AProgram);
    FPort = static_cast<std::uint16_t>(std::stoi(Text));
  }
  ~TRelayProcess() {
    FProcess.reset();
    std::remove((FFolder + "/port").c_str());
    std::remove((FFolder + "/stdout").c_str());
    rmdir(FFolder.c_str());
  }

  std::uint16_t Port() const { return FPort; }
  // VmRSS and VmHWM in MiB.
  std::string Memory() const {
    std::ifstream Status("/proc/" + std::to_string(FProcess->Pid()) + "/status");
    long Rss = 0, Hwm = 0;
    for (std::string Line; std::getline(Status, Line);) {
      if (Line.rfind("VmRSS:", 0) == 0) Rss = std::stol(Line.substr(6));
      if (Line.rfind("VmHWM:", 0) == 0) Hwm = std::stol(Line.substr(6));
    }
    char Text[80];
    std::snprintf(Text, sizeof Text, "VmRSS %5.1f MiB, VmHWM %5.1f MiB", Rss / 1024.0,
                  Hwm / 1024.0);
    return Text;
  }

 private:
  std::string FFolder;
  std::unique_ptr<halvora::test::TChildProcess> FProcess;
  std::uint16_t FPort = 0;
};

// A plain socket from ASource to the relay that has asked for a WebSocket; -1 when refused.
// Every send and receive gives up after 2 s.
int Upgraded(std::uint16_t APort, const char* ASource) {
  const int Socket = socket(AF_INET, SOCK_STREAM, 0);
  const timeval Limit{2, 0};
  setsockopt(Socket, SOL_SOCKET, SO_SNDTIMEO, &Limit, sizeof Limit);
  setsockopt(Socket, SOL_SOCKET, SO_RCVTIMEO, &Limit, sizeof Limit);
  sockaddr_in From{}, To{};
  From.sin_family = To.sin_family = AF_INET;
  inet_pton(AF_INET, ASource, &From.sin_addr);
  inet_pton(AF_INET, "127.0.0.1", &To.sin_addr);
  To.sin_port = htons(APort);
  const std::string Request =
      "GET /relay HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
  std::string Answer;
  char Buffer[512];
  if (bind(Socket, reinterpret_cast<sockaddr*>(&From), sizeof From) == 0 &&
      connect(Socket, reinterpret_cast<sockaddr*>(&To), sizeof To) == 0 &&
      send(Socket, Request.data(), Request.size(), MSG_NOSIGNAL) == ssize_t(Request.size()))
    for (ssize_t Got; Answer.find("\r\n\r\n") == std::string::npos &&
                      (Got = recv(Socket, Buffer, sizeof Buffer, 0)) > 0;)
      Answer.append(Buffer, static_cast<std::size_t>(Got));
  if (Answer.rfind("HTTP/1.1 101", 0) == 0) return Socket;
  close(Socket);
  return -1;
}

// Starts one binary message that announces AAnnounced bytes and sends ASent of them; returns
// how many went out before the relay closed the connection or stopped reading.
std::size_t StartBigMessage(int ASocket, std::uint64_t AAnnounced, std::size_t ASent) {
  std::string Frame = {'\x82', '\xFF'};  // final binary frame, masked, 64-bit length
  for (int Shift = 56; Shift >= 0; Shift -= 8)
    Frame.push_back(static_cast<char>((AAnnounced >> Shift) & 0xFF));
  Frame.append(4, '\0');  // a mask of zeros leaves the payload as it is
  if (send(ASocket, Frame.data(), Frame.size(), MSG_NOSIGNAL) != ssize_t(Frame.size())) return 0;
  const std::string Chunk(64 * 1024, 'x');
  std::size_t Done = 0;
  while (Done < ASent) {
    const ssize_t Put = send(ASocket, Chunk.data(), Chunk.size(), MSG_NOSIGNAL);
    if (Put <= 0) break;
    Done += static_cast<std::size_t>(Put);
  }
  return Done;
}

// Whether the relay still keeps the connection (reads what it sent, such as a close frame).
bool StillOpen(int ASocket) {
  char Buffer[4096];
  ssize_t Got;
  while ((Got = recv(ASocket, Buffer, sizeof Buffer, MSG_DONTWAIT)) > 0) {
  }
  return Got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

// Connections that never say hello: some announce a large message and send most of it, the
// others say nothing at all.
void StalledConnections(const TRelayProcess& ARelay) {
  constexpr int Big = 10, Silent = 200;
  std::vector<int> BigSockets, SilentSockets;
  std::size_t Sent = 0;
  for (int I = 0; I < Big; ++I) {
    const int Socket = Upgraded(ARelay.Port(), "127.0.0.2");
    if (Socket < 0) continue;
    Sent += StartBigMessage(Socket, 16 * MiBytes, 15 * MiBytes);
    BigSockets.push_back(Socket);
  }
  for (int I = 0; I < Silent; ++I)
    if (const int Socket = Upgraded(ARelay.Port(), "127.0.0.4"); Socket >= 0)
      SilentSockets.push_back(Socket);
  std::printf("  %d connections announce 16 MiB without a hello: %zu upgraded, %.1f MiB sent\n",
              Big, BigSockets.size(), double(Sent) / MiBytes);
  std::printf("  %d silent connections: %zu upgraded\n", Silent, SilentSockets.size());
  std::printf("  held:          %s\n", ARelay.Memory().c_str());
  std::this_thread::sleep_for(20s);
  const auto Open = [](const std::vector<int>& ASockets) {
    int Count = 0;
    for (const int Socket : ASockets) Count += StillOpen(Socket);
    return Count;
  };
  std::printf("  after 20 s:    %s; open: %d announcing, %d silent\n", ARelay.Memory().c_str(),
              Open(BigSockets), Open(SilentSockets));
  for (const int Socket : BigSockets) close(Socket);
  for (const int Socket : SilentSockets) close(Socket);
}

// Hosts and technicians that pair with each other, where the technicians read nothing.
void UnreadSessions(const TRelayProcess& ARelay) {
  constexpr int Sessions = 16;
  std::atomic<int> Chunks{0};
  std::vector<std::thread> Threads;
  std::vector<std::unique_ptr<TRelayTestClient>> Clients(2 * Sessions);
  for (int I = 0; I < Sessions; ++I)
    Threads.emplace_back([&, I] {
      try {
        auto& Host = Clients[2 * I] =
            std::make_unique<TRelayTestClient>(ARelay.Port(), false, "127.0.0.5");
        auto& Technician = Clients[2 * I + 1] =
            std::make_unique<TRelayTestClient>(ARelay.Port(), false, "127.0.0.6");
        Host->Send(1, "2|C||bench");
        const std::string Id = Host->Receive()->Payload;
        Technician->Send(1, "2|A|");
        Technician->Receive();
        Technician->Send(50, Id + "|Bench|");
        Technician->Receive();
        Host->Receive();  // 14
        Host->Receive();  // 5
        Host->Send(11);
        Host->Send(102, "\x01");
        const std::string Chunk(MiBytes, 'y');
        for (int N = 0; N < 64 && Host->TrySend(103, Chunk, 2s); ++N) ++Chunks;
      } catch (const std::exception&) {
      }
    });
  for (auto& Thread : Threads) Thread.join();
  std::printf("  %d sessions whose technicians read nothing: %d MiB sent by their hosts\n",
              Sessions, Chunks.load());
  std::printf("  held:          %s\n", ARelay.Memory().c_str());
}

// A host that behaves like the program: a challenge for every request, 30 s to answer it,
// admission for the right proof ("right:" and the challenge here), refusal otherwise.
class TFakeHost {
 public:
  explicit TFakeHost(std::uint16_t APort) : FClient(APort, false, "127.0.0.7") {
    FClient.Send(1, "2|C||bench-host");
    Id = FClient.Receive()->Payload;
    FClient.Receive();  // 14
  }

  void Run(const std::atomic<bool>& AStop) {
    std::string Nonce;
    TClock::time_point Deadline{};
    int Counter = 0;
    while (!AStop) {
      const auto Message = FClient.Receive(100ms);
      if (!Nonce.empty() && TClock::now() >= Deadline) {
        FClient.Send(7);
        Nonce.clear();
      }
      if (!Message) continue;
      if (Message->Cmd == 5) {
        Nonce = std::to_string(++Counter) + "0123456789abcdef";
        Deadline = TClock::now() + 30s;
        FClient.Send(100, Nonce);
        ++Challenges;
      } else if (Message->Cmd == 101 && !Nonce.empty()) {
        const bool Right = Message->Payload == "right:" + Nonce;
        if (Right) FClient.Send(11);
        FClient.Send(102, Right ? "\x01" : std::string(1, '\0'));
        if (!Right) {
          FClient.Send(7);
          ++WrongProofs;
        }
        Nonce.clear();
      } else if (Message->Cmd == 6) {
        Nonce.clear();
      }
    }
  }

  std::string Id;
  std::atomic<int> Challenges{0}, WrongProofs{0};

 private:
  TRelayTestClient FClient;
};

// Technicians that keep pairing with the host: most never answer the challenge, one answers
// it wrongly. The host's rightful technician tries once a second, as a person would.
void LockOut(const TRelayProcess& ARelay, std::chrono::seconds ADuration) {
  TFakeHost Host(ARelay.Port());
  std::atomic<bool> Stop{false};
  std::vector<std::thread> Threads;
  Threads.emplace_back([&] { Host.Run(Stop); });
  std::atomic<int> Pairings{0};
  for (int I = 0; I < 5; ++I)
    Threads.emplace_back([&, Wrong = I == 0] {
      try {
        TRelayTestClient Attacker(ARelay.Port(), false, "127.0.0.8");
        Attacker.Send(1, "2|A|");
        Attacker.Receive();
        while (!Stop) {
          Attacker.Send(50, Host.Id + "|Intruso|");
          std::optional<test::TMessage> Answer;
          while (!Stop && (!(Answer = Attacker.Receive(200ms)) || Answer->Cmd != 51)) {
          }
          if (!Answer || Answer->Payload.rfind("0|", 0) != 0) {
            std::this_thread::sleep_for(50ms);
            continue;
          }
          ++Pairings;
          for (std::optional<test::TMessage> Next; !Stop;)
            if ((Next = Attacker.Receive(200ms)) && Next->Cmd == 100 && Wrong)
              Attacker.Send(101, "wrong");
            else if (Next && Next->Cmd == 6)
              break;
        }
      } catch (const std::exception&) {
      }
    });

  // The attack is under way: the host is occupied before the rightful technician comes.
  for (const auto Until = TClock::now() + 5s; Pairings == 0 && TClock::now() < Until;)
    std::this_thread::sleep_for(10ms);
  const auto Start = TClock::now();
  std::optional<TClock::duration> Admitted;
  int Attempts = 0;
  std::string LastRefusal;
  while (!Admitted && TClock::now() - Start < ADuration) {
    ++Attempts;
    try {
      TRelayTestClient Rightful(ARelay.Port(), false, "127.0.0.3");
      Rightful.Send(1, "2|A|");
      Rightful.Receive();
      Rightful.Send(50, Host.Id + "|Técnica|");
      const auto Answer = Rightful.Receive();
      if (Answer && Answer->Payload.rfind("0|", 0) == 0) {
        const auto Challenge = Rightful.Receive(5s);
        if (Challenge && Challenge->Cmd == 100) {
          Rightful.Send(101, "right:" + Challenge->Payload);
          const auto Result = Rightful.Receive(5s);
          if (Result && Result->Cmd == 102 && Result->Payload == "\x01") {
            Admitted = TClock::now() - Start;
            Rightful.Send(7);
            break;
          }
        }
      } else if (Answer) {
        LastRefusal = Answer->Payload;
      }
    } catch (const std::exception&) {
    }
    std::this_thread::sleep_for(1s);
  }
  Stop = true;
  for (auto& Thread : Threads) Thread.join();
  std::printf(
      "  %d attacker pairings, %d challenges, %d wrong proofs (%d new passwords on the host)\n",
      Pairings.load(), Host.Challenges.load(), Host.WrongProofs.load(),
      Host.WrongProofs.load() / 5);
  if (Admitted)
    std::printf("  rightful technician: admitted after %.1f s (%d attempts)\n",
                std::chrono::duration<double>(*Admitted).count(), Attempts);
  else
    std::printf("  rightful technician: NOT admitted in %lld s (%d attempts; last answer \"%s\")\n",
                static_cast<long long>(ADuration.count()), Attempts, LastRefusal.c_str());
  std::printf("  after:         %s\n", ARelay.Memory().c_str());
}

}  // namespace
}  // namespace halvora::relay

int main(int argc, char** argv) {
  using namespace halvora::relay;
  std::string Program = HALVORA_RELAY;
  auto Duration = std::chrono::seconds(45);
  for (int I = 1; I + 1 < argc; I += 2) {
    const std::string Name = argv[I];
    if (Name == "--relay") Program = argv[I + 1];
    if (Name == "--attack-seconds") Duration = std::chrono::seconds(std::stoi(argv[I + 1]));
  }
  setvbuf(stdout, nullptr, _IOLBF, 0);
  try {
    TRelayProcess Relay(Program);
    std::printf("relay: %s\n", Program.c_str());
    std::printf("idle:            %s\n", Relay.Memory().c_str());
    std::printf("connections without a hello:\n");
    StalledConnections(Relay);
    std::printf("sessions that read nothing:\n");
    UnreadSessions(Relay);
    std::printf("pairings that never answer, for up to %lld s:\n",
                static_cast<long long>(Duration.count()));
    LockOut(Relay, Duration);
  } catch (const std::exception& AException) {
    std::fprintf(stderr, "relay_memory_bench: %s\n", AException.what());
    return 1;
  }
  return 0;
}
