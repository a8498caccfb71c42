// The database at rest: owner-only files, host keys only as salted hashes, older files converted.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "relay/uRelayStore.h"
#include "uRelayTestKit.h"

namespace halvora::relay::test {
namespace {

namespace fs = std::filesystem;

const std::string Key = "chave-do-host-2f9c41d7a0b3";

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

TEST(RelayStore, ConvertsADatabaseWithPlainKeys) {
  TUsualUmask Umask;
  TTempFolder Folder;
  const fs::path Database = Folder.Path() / "relay.db";
  {
    // As earlier versions wrote it, open to every reader.
    sqlite3* Db = nullptr;
    ASSERT_EQ(sqlite3_open(Database.c_str(), &Db), SQLITE_OK);
    const std::string Sql =
        "PRAGMA journal_mode=WAL;"
        "CREATE TABLE hosts (id TEXT PRIMARY KEY, key TEXT NOT NULL);"
        "CREATE TABLE permanent_access (host_id TEXT NOT NULL, token TEXT NOT NULL, "
        "company TEXT NOT NULL, PRIMARY KEY (host_id, token));"
        "INSERT INTO hosts VALUES ('123456789', '" + Key + "'), ('987654321', '" + Key + "-2');"
        "INSERT INTO permanent_access VALUES ('123456789', 'tok-1', 'Empresa Um');";
    EXPECT_EQ(sqlite3_exec(Db, Sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(Db);
    fs::permissions(Database, fs::perms(0644));
    ASSERT_NE(Bytes(Database).find(Key), std::string::npos);
  }
  for (int Run = 0; Run < 2; ++Run) {
    SCOPED_TRACE(Run);
    {
      TRelayStore Store(Database.string());
      EXPECT_EQ(Store.HostIds(), (std::vector<std::string>{"123456789", "987654321"}));
      EXPECT_EQ(Store.Register("123456789", Key), "123456789");
      EXPECT_EQ(Store.Register("987654321", Key + "-2"), "987654321");
      EXPECT_EQ(Store.Register("987654321", Key), std::nullopt);
      EXPECT_TRUE(Store.HasPermanent("123456789", "tok-1"));
      EXPECT_EQ(Store.PermanentCount("123456789"), 1);
      EXPECT_EQ(Modes(Database), OwnerOnly({"", "-wal", "-shm"}));
    }
    EXPECT_EQ(Bytes(Database).find(Key), std::string::npos);
  }
}

}  // namespace
}  // namespace halvora::relay::test
