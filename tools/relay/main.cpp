// halvora-relay: pairs technicians with hosts and carries their sessions (see README.md).
#include <csignal>
#include <fstream>
#include <iostream>

#include "relay/uRelayOptions.h"
#include "relay/uRelayServer.h"

int main(int argc, char** argv) {
  using namespace halvora::relay;
  const auto Parsed = ParseRelayOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!Parsed.Options) {
    if (Parsed.Error.empty()) {
      std::cout << RelayUsage();
      return 0;
    }
    std::cerr << "halvora-relay: " << Parsed.Error << "\n" << RelayUsage();
    return 2;
  }
  // Blocked here, before any I/O thread exists, so that only sigwait below sees them.
  sigset_t Signals;
  sigemptyset(&Signals);
  sigaddset(&Signals, SIGINT);
  sigaddset(&Signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &Signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  try {
    TRelayServer Server(*Parsed.Options);
    std::cout << "halvora-relay: escutando em " << Parsed.Options->Address << " porta "
              << Server.Port() << (Server.Secure() ? " (ws/wss, http/https)" : " (ws, http)")
              << std::endl;
    if (!Parsed.Options->PortFile.empty()) {
      std::ofstream PortFile(Parsed.Options->PortFile, std::ios::trunc);
      PortFile << Server.Port() << "\n";
      if (!PortFile.flush()) throw std::runtime_error("não foi possível gravar --port-file");
    }
    int Received = 0;
    sigwait(&Signals, &Received);
    std::cerr << "halvora-relay: encerrando\n";
    Server.Stop();
  } catch (const std::exception& AException) {
    std::cerr << "halvora-relay: " << AException.what() << "\n";
    return 1;
  }
  return 0;
}
