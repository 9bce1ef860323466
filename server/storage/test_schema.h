// SPDX-License-Identifier: MIT
#pragma once
// TestSchema: where one test keeps its server database. By default SQLite (the
// path the test gives, or memory). When VANTREL_TEST_POSTGRES holds a libpq
// connection string (scripts/with_postgres.sh sets it), a PostgreSQL schema of
// the test's own on that server instead, dropped with everything in it when
// the TestSchema goes, so tests run in parallel on one server.

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

namespace vantrel::server::testing {

class TestSchema {
 public:
  TestSchema() {
    const char* base = std::getenv("VANTREL_TEST_POSTGRES");
    if (base == nullptr || *base == '\0') return;
    static std::atomic<int> counter{0};
    m_base = base;
    m_name = "test_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
    m_ok = run("DROP SCHEMA IF EXISTS " + m_name + " CASCADE; CREATE SCHEMA " + m_name);
  }
  ~TestSchema() {
    if (!m_name.empty()) run("DROP SCHEMA IF EXISTS " + m_name + " CASCADE");
  }
  TestSchema(const TestSchema&) = delete;
  TestSchema& operator=(const TestSchema&) = delete;

  bool postgres() const { return !m_name.empty(); }
  // False when the PostgreSQL schema could not be made.
  bool ok() const { return m_ok; }
  // The --db value: the schema on PostgreSQL, else the SQLite path given.
  std::string target(const std::string& sqlitePath) const {
    return postgres() ? m_base + " options='-csearch_path=" + m_name + "'" : sqlitePath;
  }

 private:
  bool run(const std::string& sql) const {
    PGconn* conn = PQconnectdb(m_base.c_str());
    bool ok = PQstatus(conn) == CONNECTION_OK;
    if (ok) {
      PGresult* r = PQexec(conn, ("SET client_min_messages = warning; " + sql).c_str());
      ok = PQresultStatus(r) == PGRES_COMMAND_OK;
      PQclear(r);
    }
    PQfinish(conn);
    return ok;
  }

  std::string m_base;
  std::string m_name;
  bool m_ok = true;
};

}  // namespace vantrel::server::testing
