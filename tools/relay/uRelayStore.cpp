#include "relay/uRelayStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "relay/uRelayDigest.h"
#include "relay/uRelayLog.h"

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

// A write transaction, rolled back unless committed.
class TTransaction {
 public:
  explicit TTransaction(sqlite3* ADb) : FDb(ADb) { Execute(ADb, "BEGIN IMMEDIATE"); }
  ~TTransaction() {
    if (FDb) sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  TTransaction(const TTransaction&) = delete;
  TTransaction& operator=(const TTransaction&) = delete;

  void Commit() {
    Execute(FDb, "COMMIT");
    FDb = nullptr;
  }

 private:
  sqlite3* FDb;
};

constexpr std::size_t SaltBytes = 16;

const std::string HostColumns = "(id TEXT PRIMARY KEY, salt TEXT NOT NULL, key_hash TEXT NOT NULL)";
const std::string AccessColumns =
    "(host_id TEXT NOT NULL, salt TEXT NOT NULL, token_hash TEXT NOT NULL, "
    "company TEXT NOT NULL, PRIMARY KEY (host_id, token_hash))";

// A host key or technician token as it is stored: SHA-256 of its row's salt (always 32 hex
// digits) followed by the secret.
std::string SaltedHash(const std::string& ASalt, const std::string& ASecret) {
  return Sha256Hex({ASalt, ASecret});
}

// The stored hash of AToken among the host's permanent accesses. Every row of the host is
// hashed and compared in constant time, whether or not an earlier one matched.
std::optional<std::string> StoredToken(sqlite3* ADb, const std::string& AId,
                                       const std::string& AToken) {
  std::optional<std::string> Result;
  TStatement Select(ADb, "SELECT salt, token_hash FROM permanent_access WHERE host_id = ?", {AId});
  while (Select.Step()) {
    std::string Hash = Select.Text(1);
    if (SameSecret(SaltedHash(Select.Text(0), AToken), Hash)) Result = std::move(Hash);
  }
  return Result;
}

// Keeps the database and its side files to the owner: a missing database is created with mode
// 0600 before SQLite opens it (SQLite gives its journal, WAL and shared-memory files the mode of
// the database), and files that an older version left readable by others are narrowed.
void KeepPrivate(const std::string& APath) {
  if (APath.empty() || APath == ":memory:") return;
  const int File = ::open(APath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (File >= 0)
    ::close(File);
  else if (errno != EEXIST)
    throw std::runtime_error("banco de dados " + APath + ": " + std::strerror(errno));
  for (const char* Suffix : {"", "-wal", "-shm", "-journal"}) {
    const std::string Path = APath + Suffix;
    struct stat Info {};
    if (::stat(Path.c_str(), &Info) == 0 && (Info.st_mode & 077) != 0 &&
        ::chmod(Path.c_str(), Info.st_mode & 0700) != 0)
      Log("banco de dados: não foi possível restringir as permissões de " + Path + ": " +
          std::strerror(errno));
  }
}

bool HasColumn(sqlite3* ADb, const char* ATable, std::string_view AColumn) {
  TStatement Info(ADb, "SELECT 1 FROM pragma_table_info(?) WHERE name = ?", {ATable, AColumn});
  return Info.Step();
}

// Earlier versions kept the host keys (hosts (id, key)) or the technicians' tokens
// (permanent_access (host_id, token, company)) in the clear. This rewrites such tables with
// salted hashes and leaves no copy of a key or token in the file or its WAL.
void HashPlainSecrets(sqlite3* ADb) {
  TTransaction Transaction(ADb);
  const bool PlainKeys = HasColumn(ADb, "hosts", "key");
  const bool PlainTokens = HasColumn(ADb, "permanent_access", "token");
  if (!PlainKeys && !PlainTokens) return;
  if (PlainKeys) {
    Execute(ADb, ("CREATE TABLE hashed_hosts " + HostColumns).c_str());
    TStatement Select(ADb, "SELECT id, key FROM hosts", {});
    while (Select.Step()) {
      const std::string Salt = RandomHex(SaltBytes);
      TStatement(ADb, "INSERT INTO hashed_hosts (id, salt, key_hash) VALUES (?, ?, ?)",
                 {Select.Text(0), Salt, SaltedHash(Salt, Select.Text(1))})
          .Step();
    }
    Execute(ADb, "DROP TABLE hosts; ALTER TABLE hashed_hosts RENAME TO hosts");
  }
  if (PlainTokens) {
    Execute(ADb, ("CREATE TABLE hashed_access " + AccessColumns).c_str());
    TStatement Select(ADb, "SELECT host_id, token, company FROM permanent_access", {});
    while (Select.Step()) {
      const std::string Salt = RandomHex(SaltBytes);
      TStatement(ADb,
                 "INSERT INTO hashed_access (host_id, salt, token_hash, company) "
                 "VALUES (?, ?, ?, ?)",
                 {Select.Text(0), Salt, SaltedHash(Salt, Select.Text(1)), Select.Text(2)})
          .Step();
    }
    Execute(ADb,
            "DROP TABLE permanent_access; ALTER TABLE hashed_access RENAME TO permanent_access");
  }
  Transaction.Commit();
  Execute(ADb, "VACUUM");
  Execute(ADb, "PRAGMA wal_checkpoint(TRUNCATE)");
}

}  // namespace

TRelayStore::TRelayStore(const std::string& APath) : FRandom(std::random_device{}()) {
  KeepPrivate(APath);
  if (sqlite3_open(APath.c_str(), &FDb) != SQLITE_OK) {
    const std::string Error = FDb ? sqlite3_errmsg(FDb) : "sem memória";
    sqlite3_close(FDb);
    throw std::runtime_error("banco de dados " + APath + ": " + Error);
  }
  try {
    sqlite3_busy_timeout(FDb, 5000);
    // Freed pages are zeroed, so that keys and tokens once deleted do not linger in the file.
    Execute(FDb, "PRAGMA secure_delete=ON");
    Execute(FDb, "PRAGMA journal_mode=WAL");
    Execute(FDb, "PRAGMA synchronous=NORMAL");
    Execute(FDb, ("CREATE TABLE IF NOT EXISTS hosts " + HostColumns +
                  "; CREATE TABLE IF NOT EXISTS permanent_access " + AccessColumns)
                     .c_str());
    HashPlainSecrets(FDb);
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
  const std::string Salt = RandomHex(SaltBytes);
  const std::string Hash = SaltedHash(Salt, AKey);
  const auto Insert = [&](const std::string& AHostId) {
    TStatement(FDb, "INSERT OR IGNORE INTO hosts (id, salt, key_hash) VALUES (?, ?, ?)",
               {AHostId, Salt, Hash})
        .Step();
    return sqlite3_changes(FDb) == 1;
  };
  if (AId.empty()) {
    std::uniform_int_distribution<int> Digits(100000000, 999999999);
    for (;;)
      if (const std::string Id = std::to_string(Digits(FRandom)); Insert(Id)) return Id;
  }
  if (Insert(AId)) return AId;
  TStatement Select(FDb, "SELECT salt, key_hash FROM hosts WHERE id = ?", {AId});
  if (Select.Step() && SameSecret(SaltedHash(Select.Text(0), AKey), Select.Text(1))) return AId;
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
  return StoredToken(FDb, AId, AToken).has_value();
}

int TRelayStore::AddPermanent(const std::string& AId, const std::string& AToken,
                              const std::string& ACompany) {
  {
    std::lock_guard Guard(FLock);
    TTransaction Transaction(FDb);
    if (const auto Hash = StoredToken(FDb, AId, AToken)) {
      TStatement(FDb,
                 "UPDATE permanent_access SET company = ? WHERE host_id = ? AND token_hash = ?",
                 {ACompany, AId, *Hash})
          .Step();
    } else {
      const std::string Salt = RandomHex(SaltBytes);
      TStatement(FDb,
                 "INSERT INTO permanent_access (host_id, salt, token_hash, company) "
                 "VALUES (?, ?, ?, ?)",
                 {AId, Salt, SaltedHash(Salt, AToken), ACompany})
          .Step();
    }
    Transaction.Commit();
  }
  return PermanentCount(AId);
}

void TRelayStore::RevokePermanent(const std::string& AId) {
  std::lock_guard Guard(FLock);
  TStatement(FDb, "DELETE FROM permanent_access WHERE host_id = ?", {AId}).Step();
}

}  // namespace halvora::relay
