// SPDX-License-Identifier: MIT
// Reads on a real PostgreSQL hot standby (scripts/with_replica.sh starts a
// primary and a standby copied from it with pg_basebackup, and hands over
// how to stop and start the standby). Skipped without them.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "server/clients/test_fixture.h"
#include "server/storage/replica_set.h"
#include "server/store/server_codes.h"

namespace vantrel::server {
namespace {

using namespace std::chrono_literals;
using testing::TestClient;

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    if (done()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return done();
}

// The first value of a query on the server at `conninfo`; "" when it failed.
std::string queryValue(const std::string& conninfo, const std::string& sql) {
  PGconn* conn = PQconnectdb(conninfo.c_str());
  std::string value;
  if (PQstatus(conn) == CONNECTION_OK) {
    PGresult* r = PQexec(conn, sql.c_str());
    if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1) value = PQgetvalue(r, 0, 0);
    PQclear(r);
  }
  PQfinish(conn);
  return value;
}

class ReplicaReadsTest : public testing::ServerFixture {
 protected:
  void SetUp() override {
    const char* replica = std::getenv("VANTREL_TEST_REPLICA");
    const char* primary = std::getenv("VANTREL_TEST_POSTGRES");
    if (replica == nullptr || primary == nullptr || std::getenv("VANTREL_TEST_REPLICA_STOP") == nullptr) {
      GTEST_SKIP() << "no primary and standby (run through scripts/with_replica.sh)";
    }
    ServerFixture::SetUp();
    if (HasFatalFailure()) return;
    // The standby holds the test's schema too: the same search path there.
    const std::string target = schema.target(":memory:");
    m_replica = replica + target.substr(std::string(primary).size());
    m_primary = primary;
    db.addReplicas(target, {m_replica}, 100, 500);
    ctx.replicaWindowMs = db.replicas()->ownChangeWindow().count();
    const int64_t category = catalogue.createCategory(0, "Music", true);
    NewGroup g;
    g.name = "Open Lounge";
    g.parentId = category;
    g.memb = 4;
    g.perm = 2;
    ASSERT_EQ(catalogue.createGroup(g, 0, &m_group), 0);
    ASSERT_EQ(ReplyNumber(login(alice, "alice", "secret1", 1), "result="), 0);
    ASSERT_EQ(ReplyNumber(login(bob, "bob", "hunter22", 2, "127.0.0.6"), "result="), 0);
    const std::string join = "action=joingroup" + std::to_string(m_group) + "&groupid=" + std::to_string(m_group);
    ASSERT_EQ(ReplyNumber(send(alice, join), "result="), 0);
    ASSERT_TRUE(waitFor([&] { return db.replicas()->anyInUse(); })) << "the standby was never taken into use";
  }

  void TearDown() override {
    // A test that stopped the standby leaves it running for the next.
    if (m_stopped) {
      EXPECT_EQ(std::system(std::getenv("VANTREL_TEST_REPLICA_START")), 0);
    }
  }

  std::string addFile(const std::string& name) {
    return send(alice, "action=add_file&dirid=" + std::to_string(m_group) + "&cfileid=0&filename=" + name +
                           "&filesize=4096&keywords=&filetype=mp3");
  }
  std::string search(const std::string& word) { return send(bob, "action=search&string=" + word, "127.0.0.6"); }
  bool standbyHolds(const std::string& name) {
    return queryValue(m_replica, "SELECT count(*) FROM files WHERE name = '" + name + "'") == "1";
  }
  // Connections to the standby that read the catalogue: the server's
  // readers (its watcher only asks where the standby is in the log).
  int standbyReaders() {
    return std::atoi(queryValue(m_replica,
                                "SELECT count(*) FROM pg_stat_activity WHERE backend_type = 'client backend' "
                                "AND pid <> pg_backend_pid() AND query NOT LIKE '%pg_is_in_recovery%' "
                                "AND (query LIKE '%files%' OR query LIKE '%groups%')")
                         .c_str());
  }
  void stopStandby() {
    m_stopped = true;
    ASSERT_EQ(std::system(std::getenv("VANTREL_TEST_REPLICA_STOP")), 0);
  }
  void startStandby() {
    ASSERT_EQ(std::system(std::getenv("VANTREL_TEST_REPLICA_START")), 0);
    m_stopped = false;
  }

  TestClient alice;
  TestClient bob;
  int64_t m_group = 0;
  std::string m_primary;
  std::string m_replica;
  bool m_stopped = false;
};

TEST_F(ReplicaReadsTest, SearchesGoToTheStandbyAndToThePrimaryWhileItIsDown) {
  ASSERT_EQ(ReplyNumber(addFile("Blue Lagoon.mp3"), "result="), 0);
  ASSERT_TRUE(waitFor([&] { return standbyHolds("Blue Lagoon.mp3"); }));
  const uint64_t before = db.replicas()->replicaReads();
  const std::string found = search("lagoon");
  EXPECT_EQ(ReplyNumber(found, "result="), 0);
  EXPECT_NE(found.find("Blue%20Lagoon.mp3"), std::string::npos) << found;
  EXPECT_GT(db.replicas()->replicaReads(), before);
  EXPECT_GE(standbyReaders(), 1);

  // Stopped under the server: the next searches are answered, by the
  // primary, whether or not the server has noticed yet.
  stopStandby();
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    const std::string reply = search("lagoon");
    EXPECT_EQ(ReplyNumber(reply, "result="), 0);
    EXPECT_NE(reply.find("Blue%20Lagoon.mp3"), std::string::npos) << reply;
  }
  EXPECT_TRUE(waitFor([&] { return !db.replicas()->anyInUse(); }));
  const uint64_t whileDown = db.replicas()->replicaReads();
  EXPECT_NE(search("lagoon").find("Blue%20Lagoon.mp3"), std::string::npos);
  EXPECT_EQ(db.replicas()->replicaReads(), whileDown);

  // Back: the searches go to it again.
  startStandby();
  ASSERT_TRUE(waitFor([&] { return db.replicas()->anyInUse(); }));
  EXPECT_NE(search("lagoon").find("Blue%20Lagoon.mp3"), std::string::npos);
  EXPECT_GT(db.replicas()->replicaReads(), whileDown);
  EXPECT_GE(standbyReaders(), 1);
}

TEST_F(ReplicaReadsTest, AClientsOwnAdditionIsInItsNextListingAndALaggingStandbyIsSkipped) {
  // The standby stops applying what it receives: from now on it lags.
  ASSERT_EQ(queryValue(m_replica, "SELECT count(*) FROM (SELECT pg_wal_replay_pause()) AS s"), "1");
  ASSERT_TRUE(waitFor([&] { return queryValue(m_replica, "SELECT pg_get_wal_replay_pause_state()") == "paused"; }));
  ASSERT_EQ(ReplyNumber(addFile("Red Sky.mp3"), "result="), 0);
  const std::string listing = send(alice, "action=getlisting&dirid=" + std::to_string(m_group));
  EXPECT_NE(listing.find("Red%20Sky.mp3"), std::string::npos) << listing;
  EXPECT_FALSE(standbyHolds("Red Sky.mp3"));

  // Others see the addition as soon as the lagging standby is skipped.
  EXPECT_TRUE(waitFor([&] { return !db.replicas()->anyInUse(); }, 5s));
  EXPECT_NE(search("sky").find("Red%20Sky.mp3"), std::string::npos);

  ASSERT_EQ(queryValue(m_replica, "SELECT count(*) FROM (SELECT pg_wal_replay_resume()) AS s"), "1");
  EXPECT_TRUE(waitFor([&] { return db.replicas()->anyInUse(); }));
  EXPECT_TRUE(standbyHolds("Red Sky.mp3"));
}

}  // namespace
}  // namespace vantrel::server
