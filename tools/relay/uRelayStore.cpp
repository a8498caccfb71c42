#include "relay/uRelayStore.h"

#include <sqlite3.h>

#include <stdexcept>

namespace halvora::relay {

namespace {

[[noreturn]] void Fail(sqlite3* ADb, const std::string& AWhat) {
  throw std::runtime_error("banco de dados: " + AWhat + ": " + sqlite3_errmsg(ADb));
}

void Execute(sqlite3* ADb, const char* ASql) {
  if (sqlite3_exec(ADb, ASql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(ADb, ASql);
}

// One prepared statement with its text parameters bound in order.
class TStatement {
 public:
  TStatement(sqlite3* ADb, const char* ASql, std::initializer_list<std::string_view> AParams)
      : FDb(ADb) {
    if (sqlite3_prepare_v2(ADb, ASql, -1, &FStmt, nullptr) != SQLITE_OK) Fail(ADb, ASql);
    int Index = 0;
    for (const auto Param : AParams)
      sqlite3_bind_text(FStmt, ++Index, Param.data(), static_cast<int>(Param.size()),
                        SQLITE_TRANSIENT);
  }
  ~TStatement() { sqlite3_finalize(FStmt); }
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;

  // True while a row is available.
  bool Step() {
    const int Result = sqlite3_step(FStmt);
    if (Result == SQLITE_ROW) return true;
    if (Result != SQLITE_DONE) Fail(FDb, sqlite3_sql(FStmt));
    return false;
  }
  std::string Text(int AColumn) const {
    const auto* Data = reinterpret_cast<const char*>(sqlite3_column_text(FStmt, AColumn));
    return Data ? std::string(Data, sqlite3_column_bytes(FStmt, AColumn)) : std::string();
  }
  int Integer(int AColumn) const { return sqlite3_column_int(FStmt, AColumn); }

 private:
  sqlite3* FDb;
  sqlite3_stmt* FStmt = nullptr;
};

}  // namespace

TRelayStore::TRelayStore(const std::string& APath) : FRandom(std::random_device{}()) {
  if (sqlite3_open(APath.c_str(), &FDb) != SQLITE_OK) {
    const std::string Error = FDb ? sqlite3_errmsg(FDb) : "sem memória";
    sqlite3_close(FDb);
    throw std::runtime_error("banco de dados " + APath + ": " + Error);
  }
  try {
    sqlite3_busy_timeout(FDb, 5000);
    Execute(FDb, "PRAGMA journal_mode=WAL");
    Execute(FDb, "PRAGMA synchronous=NORMAL");
    Execute(FDb,
            "CREATE TABLE IF NOT EXISTS hosts (id TEXT PRIMARY KEY, key TEXT NOT NULL);"
            "CREATE TABLE IF NOT EXISTS permanent_access (host_id TEXT NOT NULL, "
            "token TEXT NOT NULL, company TEXT NOT NULL, PRIMARY KEY (host_id, token))");
  } catch (...) {
    sqlite3_close(FDb);
    throw;
  }
}

TRelayStore::~TRelayStore() {
  sqlite3_close(FDb);
}

std::optional<std::string> TRelayStore::Register(const std::string& AId, const std::string& AKey) {
  std::lock_guard Guard(FLock);
  if (AId.empty()) {
    std::uniform_int_distribution<int> Digits(100000000, 999999999);
    for (;;) {
      const std::string Id = std::to_string(Digits(FRandom));
      TStatement(FDb, "INSERT OR IGNORE INTO hosts (id, key) VALUES (?, ?)", {Id, AKey}).Step();
      if (sqlite3_changes(FDb) == 1) return Id;
    }
  }
  TStatement(FDb, "INSERT OR IGNORE INTO hosts (id, key) VALUES (?, ?)", {AId, AKey}).Step();
  TStatement Select(FDb, "SELECT key FROM hosts WHERE id = ?", {AId});
  if (Select.Step() && Select.Text(0) == AKey) return AId;
  return std::nullopt;
}

bool TRelayStore::Known(const std::string& AId) {
  std::lock_guard Guard(FLock);
  return TStatement(FDb, "SELECT 1 FROM hosts WHERE id = ?", {AId}).Step();
}

std::vector<std::string> TRelayStore::HostIds() {
  std::lock_guard Guard(FLock);
  std::vector<std::string> Result;
  TStatement Select(FDb, "SELECT id FROM hosts ORDER BY id", {});
  while (Select.Step()) Result.push_back(Select.Text(0));
  return Result;
}

int TRelayStore::PermanentCount(const std::string& AId) {
  std::lock_guard Guard(FLock);
  TStatement Select(FDb, "SELECT COUNT(DISTINCT company) FROM permanent_access WHERE host_id = ?",
                    {AId});
  return Select.Step() ? Select.Integer(0) : 0;
}

bool TRelayStore::HasPermanent(const std::string& AId, const std::string& AToken) {
  std::lock_guard Guard(FLock);
  return TStatement(FDb, "SELECT 1 FROM permanent_access WHERE host_id = ? AND token = ?",
                    {AId, AToken})
      .Step();
}

int TRelayStore::AddPermanent(const std::string& AId, const std::string& AToken,
                              const std::string& ACompany) {
  {
    std::lock_guard Guard(FLock);
    TStatement(FDb,
               "INSERT OR REPLACE INTO permanent_access (host_id, token, company) "
               "VALUES (?, ?, ?)",
               {AId, AToken, ACompany})
        .Step();
  }
  return PermanentCount(AId);
}

void TRelayStore::RevokePermanent(const std::string& AId) {
  std::lock_guard Guard(FLock);
  TStatement(FDb, "DELETE FROM permanent_access WHERE host_id = ?", {AId}).Step();
}

}  // namespace halvora::relay
