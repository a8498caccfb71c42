// The database at rest: owner-only files, host keys and technicians' tokens only as salted hashes,
// older files converted.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "relay/uRelayDigest.h"
#include "relay/uRelayStore.h"
#include "uRelayTestKit.h"

namespace halvora::relay::test {
namespace {

namespace fs = std::filesystem;

const std::string Key = "chave-do-host-2f9c41d7a0b3";
const std::string Token = "token-do-tecnico-5e81c0a9d4";

// The database and its side files as they are on disk now.
std::string Bytes(const fs::path& ADatabase) {
  std::string Result;
  for (const char* Suffix : {"", "-wal", "-journal"}) {
    std::ifstream File(ADatabase.string() + Suffix, std::ios::binary);
    Result.append(std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>());
  }
  return Result;
}

// Permission bits of the database and of each side file that exists.
std::vector<std::string> Modes(const fs::path& ADatabase) {
  std::vector<std::string> Result;
  for (const char* Suffix : {"", "-wal", "-shm", "-journal"}) {
    struct stat Info {};
    char Mode[8];
    if (::stat((ADatabase.string() + Suffix).c_str(), &Info) == 0 &&
        std::snprintf(Mode, sizeof Mode, "%o", Info.st_mode & 0777) > 0)
      Result.push_back(std::string("db") + Suffix + " " + Mode);
  }
  return Result;
}

// The first column of every row that ASql selects, read without the store.
std::vector<std::string> Select(const fs::path& ADatabase, const char* ASql) {
  std::vector<std::string> Result;
  sqlite3* Db = nullptr;
  sqlite3_stmt* Stmt = nullptr;
  EXPECT_EQ(sqlite3_open(ADatabase.c_str(), &Db), SQLITE_OK);
  EXPECT_EQ(sqlite3_prepare_v2(Db, ASql, -1, &Stmt, nullptr), SQLITE_OK) << sqlite3_errmsg(Db);
  while (sqlite3_step(Stmt) == SQLITE_ROW)
    Result.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(Stmt, 0)));
  sqlite3_finalize(Stmt);
  sqlite3_close(Db);
  return Result;
}

// "('a', 'b'), ('c', 'd')": rows for an INSERT.
std::string Values(std::initializer_list<std::initializer_list<std::string>> ARows) {
  std::string Result;
  for (const auto& Row : ARows) {
    Result += Result.empty() ? "(" : ", (";
    for (const auto& Value : Row) Result += (Result.back() == '(' ? "'" : ", '") + Value + "'";
    Result += ")";
  }
  return Result;
}

std::vector<std::string> OwnerOnly(std::initializer_list<const char*> ASuffixes) {
  std::vector<std::string> Result;
  for (const char* Suffix : ASuffixes) Result.push_back(std::string("db") + Suffix + " 600");
  return Result;
}

// The usual umask for the length of a test, so that the modes seen are the relay's own doing.
class TUsualUmask {
 public:
  TUsualUmask() : FOld(::umask(022)) {}
  ~TUsualUmask() { ::umask(FOld); }

 private:
  const mode_t FOld;
};

TEST(RelayStore, KeepsHashedKeysInFilesOnlyTheOwnerReads) {
  TUsualUmask Umask;
  TTempFolder Folder;
  const fs::path Database = Folder.Path() / "relay.db";
  std::string Id;
  {
    TRelayStore Store(Database.string());
    Id = Store.Register("", Key).value_or("");
    ASSERT_FALSE(Id.empty());
    EXPECT_EQ(Store.Register(Id, Key), Id);
    EXPECT_EQ(Store.Register(Id, Key + "x"), std::nullopt);
    EXPECT_EQ(Modes(Database), OwnerOnly({"", "-wal", "-shm"}));
    EXPECT_EQ(Bytes(Database).find(Key), std::string::npos);
  }
  EXPECT_EQ(Bytes(Database).find(Key), std::string::npos);
  TRelayStore Again(Database.string());
  EXPECT_EQ(Again.Register(Id, Key), Id);
  EXPECT_EQ(Again.Register(Id, ""), std::nullopt);
}

TEST(RelayStore, KeepsOneHashedRowPerTokenAndHost) {
  TTempFolder Folder;
  const fs::path Database = Folder.Path() / "relay.db";
  {
    TRelayStore Store(Database.string());
    EXPECT_EQ(Store.AddPermanent("111111111", Token, "Empresa Um"), 1);
    EXPECT_EQ(Store.AddPermanent("111111111", Token + "-b", "Empresa Um"), 1);
    EXPECT_EQ(Store.AddPermanent("111111111", Token, "Empresa Dois"), 2);  // the company moves
    EXPECT_EQ(Store.AddPermanent("222222222", Token, "Empresa Um"), 1);
    EXPECT_EQ(Bytes(Database).find(Token), std::string::npos);
  }
  EXPECT_EQ(Bytes(Database).find(Token), std::string::npos);
  EXPECT_EQ(Select(Database, "SELECT host_id || '|' || company FROM permanent_access ORDER BY 1"),
            (std::vector<std::string>{"111111111|Empresa Dois", "111111111|Empresa Um",
                                      "222222222|Empresa Um"}));

  TRelayStore Store(Database.string());
  const struct {
    const char* Id;
    std::string Token;
    bool Granted;
  } Cases[] = {
      {"111111111", Token, true},
      {"111111111", Token + "-b", true},
      {"222222222", Token, true},
      {"222222222", Token + "-b", false},  // granted for another host only
      {"333333333", Token, false},
      {"111111111", Token.substr(0, Token.size() - 1), false},
      {"111111111", Token + "x", false},
      {"111111111", "", false},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(Store.HasPermanent(Case.Id, Case.Token), Case.Granted)
        << Case.Id << " " << Case.Token;
  Store.RevokePermanent("111111111");
  EXPECT_FALSE(Store.HasPermanent("111111111", Token));
  EXPECT_EQ(Store.PermanentCount("111111111"), 0);
  EXPECT_TRUE(Store.HasPermanent("222222222", Token));
}

TEST(RelayStore, ConvertsADatabaseWithPlainKeysOrTokens) {
  const std::string Salt(32, '5');
  // The hosts table of the versions that kept keys in the clear, and of the one after them.
  const struct {
    const char* Version;
    std::string Hosts;
  } Versions[] = {
      {"plain keys",
       "CREATE TABLE hosts (id TEXT PRIMARY KEY, key TEXT NOT NULL);"
       "INSERT INTO hosts VALUES " +
           Values({{"123456789", Key}, {"987654321", Key + "-2"}})},
      {"hashed keys",
       "CREATE TABLE hosts (id TEXT PRIMARY KEY, salt TEXT NOT NULL, key_hash TEXT NOT NULL);"
       "INSERT INTO hosts VALUES " +
           Values({{"123456789", Salt, Sha256Hex({Salt, Key})},
                   {"987654321", Salt, Sha256Hex({Salt, Key + "-2"})}})},
  };
  for (const auto& Version : Versions) {
    SCOPED_TRACE(Version.Version);
    TUsualUmask Umask;
    TTempFolder Folder;
    const fs::path Database = Folder.Path() / "relay.db";
    {
      // As earlier versions wrote it, open to every reader, with the tokens in the clear.
      sqlite3* Db = nullptr;
      ASSERT_EQ(sqlite3_open(Database.c_str(), &Db), SQLITE_OK);
      const std::string Sql = "PRAGMA journal_mode=WAL;" + Version.Hosts +
                              ";CREATE TABLE permanent_access (host_id TEXT NOT NULL, "
                              "token TEXT NOT NULL, company TEXT NOT NULL, "
                              "PRIMARY KEY (host_id, token));"
                              "INSERT INTO permanent_access VALUES " +
                              Values({{"123456789", Token, "Empresa Um"},
                                      {"123456789", Token + "-b", "Empresa Um"},
                                      {"123456789", Token + "-c", "Empresa Dois"},
                                      {"987654321", Token + "-b", "Empresa Dois"}});
      EXPECT_EQ(sqlite3_exec(Db, Sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
      sqlite3_close(Db);
      fs::permissions(Database, fs::perms(0644));
      ASSERT_NE(Bytes(Database).find(Token), std::string::npos);
    }
    for (int Run = 0; Run < 2; ++Run) {
      SCOPED_TRACE(Run);
      {
        TRelayStore Store(Database.string());
        EXPECT_EQ(Store.HostIds(), (std::vector<std::string>{"123456789", "987654321"}));
        EXPECT_EQ(Store.Register("123456789", Key), "123456789");
        EXPECT_EQ(Store.Register("987654321", Key + "-2"), "987654321");
        EXPECT_EQ(Store.Register("987654321", Key), std::nullopt);
        EXPECT_TRUE(Store.HasPermanent("123456789", Token));
        EXPECT_TRUE(Store.HasPermanent("123456789", Token + "-c"));
        EXPECT_TRUE(Store.HasPermanent("987654321", Token + "-b"));
        EXPECT_FALSE(Store.HasPermanent("987654321", Token));
        EXPECT_EQ(Store.PermanentCount("123456789"), 2);
        EXPECT_EQ(Store.PermanentCount("987654321"), 1);
        EXPECT_EQ(Modes(Database), OwnerOnly({"", "-wal", "-shm"}));
      }
      EXPECT_EQ(Bytes(Database).find(Key), std::string::npos);
      EXPECT_EQ(Bytes(Database).find(Token), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace halvora::relay::test
