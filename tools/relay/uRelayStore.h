#pragma once

#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

struct sqlite3;

namespace halvora::relay {

// Registered hosts (ID and a salted SHA-256 of the key) and permanent accesses (host ID, a
// salted SHA-256 of the technician's token, company) in an SQLite database that only its owner
// may read; a database of an earlier version with plain keys or tokens is converted on opening.
// Safe to call from any thread; failures throw std::runtime_error.
class TRelayStore {
 public:
  explicit TRelayStore(const std::string& APath);  // ":memory:" keeps nothing
  ~TRelayStore();
  TRelayStore(const TRelayStore&) = delete;
  TRelayStore& operator=(const TRelayStore&) = delete;

  // Registers a host. An empty AId gets a fresh random nine-digit ID; an unknown ID is taken
  // with AKey. Returns the ID, or nothing when the ID is known with another key.
  std::optional<std::string> Register(const std::string& AId, const std::string& AKey);

  bool Known(const std::string& AId);
  std::vector<std::string> HostIds();

  // Companies holding permanent access to the host.
  int PermanentCount(const std::string& AId);
  bool HasPermanent(const std::string& AId, const std::string& AToken);
  // Grants the token's access, or gives a token the host already has the new company; returns
  // the new count.
  int AddPermanent(const std::string& AId, const std::string& AToken, const std::string& ACompany);
  void RevokePermanent(const std::string& AId);

 private:
  std::mutex FLock;
  sqlite3* FDb = nullptr;  // guarded by FLock
  std::mt19937 FRandom;    // guarded by FLock
};

}  // namespace halvora::relay
