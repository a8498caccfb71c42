#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "relay/uRelayLimits.h"

namespace halvora::relay {

struct TRelayOptions {
  std::string Address = "127.0.0.1";  // --listen ADDR:PORT
  std::uint16_t Port = 8080;
  std::string TlsCert, TlsKey;  // PEM files; both set: the port also speaks TLS
  std::string Database = "halvora-relay.db";
  unsigned NoopInterval = 30;  // seconds between messages 9; 0 turns them off
  std::string InstallOffer;    // message 12 after each registration, when not empty
  std::string Brand;           // "code|name": message 16 after each registration
  std::string BrandsFolder;    // brand service: <code>/nome.txt and <code>/logo.png
  std::string StaticFolder;    // other GET paths
  std::string PortFile;        // receives the bound port number
  std::string AdminToken;      // bearer token of the admin endpoint; with neither it is off
  std::string AdminTokenFile;  // file holding that token
  unsigned Threads = 0;        // I/O threads; 0 picks a few by the processor count
  bool Quiet = false;          // no log lines
  TRelayLimits Limits;
};

struct TParsedOptions {
  std::optional<TRelayOptions> Options;  // empty when the program should not run
  std::string Error;                     // Portuguese text; empty with --help
};

TParsedOptions ParseRelayOptions(const std::vector<std::string>& AArgs);

// The option summary printed by --help.
std::string RelayUsage();

}  // namespace halvora::relay
