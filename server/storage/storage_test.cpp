// SPDX-License-Identifier: MIT
// The server's storage: schema versions, the server key file and sealed
// passwords, accounts.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <chrono>
#include <future>
#include <iterator>
#include <thread>

#include <libpq-fe.h>

#include "server/central_server.h"
#include "server/storage/database.h"
#include "server/storage/test_schema.h"
#include "server/store/account_store.h"
#include "server/store/password_vault.h"

namespace vantrel::server {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/vantrel-server-test-XXXXXX";
    m_path = ::mkdtemp(pattern);
  }
  ~TempDir() { fs::remove_all(m_path); }
  std::string file(const char* name) const { return (m_path / name).string(); }

 private:
  fs::path m_path;
};

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(StorageTest, NewDatabaseGetsTheCurrentSchemaAndANewerOneIsRefused) {
  TempDir dir;
  {
    Database db;
    ASSERT_TRUE(db.open(dir.file("s.db"))) << db.error();
    EXPECT_EQ(db.schemaVersion(), Database::kSchemaVersion);
    Statement wal(db, "PRAGMA journal_mode");
    ASSERT_TRUE(wal.step());
    EXPECT_EQ(wal.text(0), "wal");
    ASSERT_TRUE(db.exec("PRAGMA user_version=99"));
  }
  Database newer;
  EXPECT_FALSE(newer.open(dir.file("s.db")));
  EXPECT_NE(newer.error().find("newer"), std::string::npos);
}

TEST(StorageTest, TheDatabaseIsReadableByItsOwnerOnly) {
  TempDir dir;
  const std::string older = dir.file("older.db");
  std::ofstream(older).close();
  ASSERT_EQ(::chmod(older.c_str(), 0644), 0);
  for (const std::string& path : {dir.file("fresh.db"), older}) {
    SCOPED_TRACE(path);
    Database db;
    ASSERT_TRUE(db.open(path)) << db.error();
    ASSERT_TRUE(db.exec("CREATE TABLE t (x)"));
    for (const std::string& file : {path, path + "-wal"}) {
      struct stat st {};
      ASSERT_EQ(::stat(file.c_str(), &st), 0) << file;
      EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
    }
  }
}

// The first schema's files table: IDs were plain row IDs then.
constexpr const char* kFirstFilesTable =
    "CREATE TABLE files (id INTEGER PRIMARY KEY, client_id INTEGER NOT NULL, user_id INTEGER NOT NULL,"
    " dir_id INTEGER NOT NULL, group_id INTEGER NOT NULL, name TEXT NOT NULL, size INTEGER NOT NULL,"
    " filetype TEXT NOT NULL DEFAULT '', keywords TEXT NOT NULL DEFAULT '', added INTEGER NOT NULL,"
    " rating INTEGER NOT NULL DEFAULT 0);";

int64_t addFileRow(Database& db, const std::string& name) {
  Statement st(db,
               "INSERT INTO files(client_id, user_id, dir_id, group_id, name, size, added) VALUES (1, 1, 1, 1, ?, 1, 0) "
               "RETURNING id");
  st.bind(1, name);
  const int64_t id = st.runReturningId();
  return id != 0 ? id : -1;
}

TEST(StorageTest, AnOlderDatabaseIsMigratedKeepingItsRows) {
  TempDir dir;
  {
    Database db;
    ASSERT_TRUE(db.open(dir.file("s.db")));
    // Back to the first schema: no full-text search, no account state, file
    // IDs that could come back.
    ASSERT_TRUE(db.exec(std::string("DROP TRIGGER files_ai; DROP TRIGGER files_ad; DROP TRIGGER files_au;"
                                    "DROP TABLE files_fts; DROP TABLE files;") +
                        kFirstFilesTable +
                        "ALTER TABLE users DROP COLUMN disabled; ALTER TABLE users DROP COLUMN last_login;"
                        "DROP TABLE session_additions; DROP INDEX sessions_last_ping;"
                        "DROP INDEX sessions_login_time; ALTER TABLE sessions DROP COLUMN sealed_key;"
                        "ALTER TABLE sessions DROP COLUMN last_ping;"
                        "INSERT INTO files(id, client_id, user_id, dir_id, group_id, name, size, keywords, added) "
                        "VALUES (5, 1, 1, 1, 1, 'old song.mp3', 1, 'kept', 0),"
                        " (9, 1, 1, 1, 1, 'last tune.mp3', 1, '', 0); PRAGMA user_version=1;"))
        << db.error();
  }
  {
    Database db;
    ASSERT_TRUE(db.open(dir.file("s.db"))) << db.error();
    EXPECT_EQ(db.schemaVersion(), Database::kSchemaVersion);
    {
      Statement st(db, "SELECT f.id, f.keywords FROM files_fts JOIN files f ON f.id = files_fts.rowid "
                       "WHERE files_fts MATCH 'song'");
      ASSERT_TRUE(st.step());
      EXPECT_EQ(st.integer(0), 5);
      EXPECT_EQ(st.text(1), "kept");
    }
    // The search index follows changes again, and the ID of the last file
    // removed is not handed out a second time.
    ASSERT_TRUE(db.exec("DELETE FROM files WHERE id = 9"));
    EXPECT_EQ(addFileRow(db, "new tune.mp3"), 10);
  }
  // Opened again at the current version, nothing is rebuilt: the rows, the
  // index and the highest ID handed out stay as they were.
  Database again;
  ASSERT_TRUE(again.open(dir.file("s.db"))) << again.error();
  Statement found(again, "SELECT rowid FROM files_fts WHERE files_fts MATCH 'tune'");
  ASSERT_TRUE(found.step());
  EXPECT_EQ(found.integer(0), 10);
  EXPECT_FALSE(found.step());
  ASSERT_TRUE(again.exec("DELETE FROM files WHERE id = 10"));
  EXPECT_EQ(addFileRow(again, "newer tune.mp3"), 11);
}

TEST(StorageTest, TheIdOfARemovedFileIsNeverHandedOutAgain) {
  TempDir dir;
  Database db;
  ASSERT_TRUE(db.open(dir.file("s.db")));
  const int64_t first = addFileRow(db, "a.mp3");
  const int64_t last = addFileRow(db, "b.mp3");
  ASSERT_TRUE(db.exec("DELETE FROM files WHERE id = " + std::to_string(last)));
  const int64_t next = addFileRow(db, "c.mp3");
  EXPECT_GT(next, last);
  EXPECT_GT(last, first);
}

TEST(StorageTest, PasswordsAreSealedWithAPrivateKeyFileAndNeverStoredPlain) {
  TempDir dir;
  std::string error;
  PasswordVault vault;
  ASSERT_TRUE(vault.openKeyFile(dir.file("s.db.key"), error)) << error;
  struct stat st {};
  ASSERT_EQ(::stat(dir.file("s.db.key").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 32);
  {
    Database db;
    ASSERT_TRUE(db.open(dir.file("s.db")));
    AccountStore accounts(db, vault);
    ASSERT_EQ(accounts.createUser("carol", "Plain-Text-Pw", ""), AccountStore::Result::kOk);
    const auto user = accounts.findUser("CAROL");  // names compare without case
    ASSERT_TRUE(user.has_value());
    EXPECT_EQ(accounts.password(user->id), "Plain-Text-Pw");
    EXPECT_TRUE(accounts.checkPassword("carol", "Plain-Text-Pw").has_value());
    EXPECT_FALSE(accounts.checkPassword("carol", "plain-text-pw").has_value());
    ASSERT_TRUE(db.exec("PRAGMA wal_checkpoint(TRUNCATE)"));
  }
  EXPECT_EQ(readAll(dir.file("s.db")).find("Plain-Text-Pw"), std::string::npos);

  // The same key opens the records again; another key or an altered record does not.
  PasswordVault same;
  ASSERT_TRUE(same.openKeyFile(dir.file("s.db.key"), error));
  const std::string sealed = vault.seal("pw");
  EXPECT_EQ(same.unseal(sealed), "pw");
  std::string altered = sealed;
  altered[14] ^= 1;
  EXPECT_FALSE(same.unseal(altered).has_value());
  PasswordVault other;
  other.setKey({});
  EXPECT_FALSE(other.unseal(sealed).has_value());

  ::chmod(dir.file("s.db.key").c_str(), 0644);
  PasswordVault exposed;
  EXPECT_FALSE(exposed.openKeyFile(dir.file("s.db.key"), error));
  EXPECT_NE(error.find("0600"), std::string::npos);
}

TEST(StorageTest, AccountsRefuseBadNamesAndPasswordsAndUpdateOnRequest) {
  testing::TestSchema schema;
  Database db;
  ASSERT_TRUE(db.open(schema.target(":memory:"))) << db.error();
  PasswordVault vault;
  vault.setKey({});
  AccountStore accounts(db, vault);
  EXPECT_EQ(accounts.createUser("al", "secret", ""), AccountStore::Result::kBadName);
  EXPECT_EQ(accounts.createUser("a l i", "secret", ""), AccountStore::Result::kBadName);
  EXPECT_EQ(accounts.createUser("alice", "abc", ""), AccountStore::Result::kBadPassword);
  ASSERT_EQ(accounts.createUser("alice", "secret", ""), AccountStore::Result::kOk);
  EXPECT_EQ(accounts.createUser("Alice", "secret", ""), AccountStore::Result::kNameTaken);
  ASSERT_EQ(accounts.createOrUpdateUser("alice", "changed"), AccountStore::Result::kOk);
  EXPECT_TRUE(accounts.checkPassword("alice", "changed").has_value());
  const auto id = accounts.findUser("alice")->id;
  const auto client = accounts.clientIdFor(id);
  ASSERT_TRUE(client.has_value());
  EXPECT_EQ(accounts.clientIdFor(id), client);  // one client ID per user
  EXPECT_EQ(accounts.userOfClient(*client), id);
  EXPECT_TRUE(accounts.useLoginSalt(id, "12345678", 1000));
  EXPECT_FALSE(accounts.useLoginSalt(id, "12345678", 1001));
  EXPECT_TRUE(accounts.useLoginSalt(id, "12345678", 1000 + 2 * 24 * 3600));  // forgotten after a day
}

TEST(StorageTest, AServerWithAccountsDoesNotStartWithoutItsKey) {
  TempDir dir;
  ServerOptions options;
  options.dbPath = dir.file("s.db");
  options.port = 0;
  options.udpPort = 0;
  options.users = {{"alice", "secret1"}};
  std::string error;
  {
    CentralServer first;
    ASSERT_TRUE(first.start(options, error)) << error;
  }
  ASSERT_TRUE(fs::remove(dir.file("s.db.key")));
  options.users.clear();
  CentralServer second;
  EXPECT_FALSE(second.start(options, error));
  EXPECT_NE(error.find("is missing"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(dir.file("s.db.key")));

  // Nor with the key of another database.
  options.keyPath = dir.file("other.key");
  PasswordVault other;
  ASSERT_TRUE(other.openKeyFile(options.keyPath, error));
  CentralServer third;
  EXPECT_FALSE(third.start(options, error));
  EXPECT_NE(error.find("does not open"), std::string::npos) << error;
}

// Reads do not queue behind a writer: while one thread holds a write
// transaction open, another thread's lookups and searches answer at once from
// the last commit, and the writing thread reads its own uncommitted rows.
TEST(StorageTest, ReadersRunWhileTheWriterHoldsATransaction) {
  TempDir dir;
  testing::TestSchema schema;
  Database db;
  ASSERT_TRUE(db.open(schema.target(dir.file("s.db")))) << db.error();
  PasswordVault vault;
  vault.setKey({});
  AccountStore accounts(db, vault);
  CatalogueStore catalogue(db);
  ASSERT_EQ(accounts.createUser("alice", "secret1", ""), AccountStore::Result::kOk);
  const int64_t category = catalogue.createCategory(0, "Music", true);
  NewGroup g;
  g.name = "Lounge";
  g.parentId = category;
  g.memb = 4;
  int64_t group = 0;
  ASSERT_EQ(catalogue.createGroup(g, accounts.findUser("alice")->id, &group), 0);
  ASSERT_EQ(catalogue.addFiles(1001, accounts.findUser("alice")->id, group, {{"blue train.mp3", 1, "", ""}}, nullptr),
            0);

  std::optional<UserRecord> alice;
  std::optional<UserRecord> pending;
  size_t found = 0;
  std::future<void> reader;  // before the transaction: it ends first, whatever happens
  Transaction tx(db);
  Statement insert(db, "INSERT INTO users(name, password, created) VALUES ('pending', ?, 0)");
  ASSERT_TRUE(insert.bindBlob(1, std::string(1, '\0')).run());
  EXPECT_TRUE(accounts.findUser("pending").has_value());  // the writer sees its own change
  reader = std::async(std::launch::async, [&] {
    alice = accounts.findUser("alice");
    pending = accounts.findUser("pending");
    SearchQuery q;
    q.text = "blue";
    found = catalogue.search(q).files.size();
  });
  ASSERT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_TRUE(alice.has_value());
  EXPECT_FALSE(pending.has_value());
  EXPECT_EQ(found, 1u);
}

// Runs one statement on a connection of its own, beside the server's.
std::string besideTheServer(const std::string& sql) {
  PGconn* conn = PQconnectdb(std::getenv("VANTREL_TEST_POSTGRES"));
  std::string value;
  if (PQstatus(conn) == CONNECTION_OK) {
    PGresult* r = PQexec(conn, sql.c_str());
    if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0) value = PQgetvalue(r, 0, 0);
    PQclear(r);
  }
  PQfinish(conn);
  return value;
}

// PostgreSQL ends a transaction at its first failure; the connection may
// go (a restart, a failover) between any two statements. Either way none of
// it may be kept, and the caller must hear so from its commit.
TEST(StorageTest, APostgresTransactionThatFailedOrLostItsConnectionKeepsNothingAndItsCommitSaysSo) {
  testing::TestSchema schema;
  if (!schema.postgres()) GTEST_SKIP() << "PostgreSQL only";
  Database db;
  ASSERT_TRUE(db.open(schema.target(""))) << db.error();
  ASSERT_TRUE(db.exec("CREATE TABLE probe (n BIGINT PRIMARY KEY)"));
  const auto rows = [&] {
    Statement count(db, "SELECT COUNT(*) FROM probe");
    return count.step() ? count.integer(0) : -1;
  };
  {
    Transaction tx(db);
    EXPECT_TRUE(Statement(db, "INSERT INTO probe VALUES (1)").run());
    EXPECT_FALSE(Statement(db, "INSERT INTO probe VALUES (1)").run());
    EXPECT_FALSE(tx.commit());
  }
  EXPECT_EQ(rows(), 0);

  Statement pid(db, "SELECT pg_backend_pid()");
  ASSERT_TRUE(pid.step());
  const std::string writer = std::to_string(pid.integer(0));
  {
    Transaction tx(db);
    EXPECT_TRUE(Statement(db, "INSERT INTO probe VALUES (2)").run());
    ASSERT_EQ(besideTheServer("SELECT pg_terminate_backend(" + writer + ")"), "t");
    for (int i = 0; i < 100 && !besideTheServer("SELECT 1 FROM pg_stat_activity WHERE pid = " + writer).empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    storage_fault::clear();
    // A statement prepared before and one never seen on this connection.
    EXPECT_FALSE(Statement(db, "INSERT INTO probe VALUES (2)").run());
    EXPECT_FALSE(Statement(db, "INSERT INTO probe VALUES (3)").run());
    EXPECT_TRUE(storage_fault::noted());
    EXPECT_FALSE(tx.commit());
  }
  // The next statement finds the database again, and none of the rows.
  EXPECT_EQ(rows(), 0);
  EXPECT_TRUE(Statement(db, "INSERT INTO probe VALUES (4)").run());
  EXPECT_EQ(rows(), 1);
}

}  // namespace
}  // namespace vantrel::server
