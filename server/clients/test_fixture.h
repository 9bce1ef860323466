// SPDX-License-Identifier: MIT
#pragma once
// Test fixture for the server's request handlers: a database of the test's
// own (in memory, or a PostgreSQL schema: see test_schema.h), a
// fixed server key, a clock the test moves, and helpers that build requests
// exactly as the client does (same key derivation, same encryption, same
// field order) and read replies with the client's own field readers.

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "core/base64.h"
#include "crypto/session_key.h"
#include "net/reply_fields.h"
#include "server/clients/client_protocol.h"
#include "server/clients/outbound.h"
#include "server/sessions/session_table.h"
#include "server/storage/database.h"
#include "server/storage/test_schema.h"
#include "server/store/account_store.h"
#include "server/store/catalogue_store.h"
#include "server/store/password_vault.h"

namespace vantrel::server::testing {

// What a logged-in client holds.
struct TestClient {
  SessionKey key;
  int64_t clientId = 0;
};

class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    // As the server does before each request: a fault an earlier test left
    // noted on this thread is not this test's.
    storage_fault::clear();
    ASSERT_TRUE(schema.ok()) << "cannot make a PostgreSQL schema for the test";
    ASSERT_TRUE(db.open(schema.target(":memory:"))) << db.error();
    vault.setKey({});
    ASSERT_EQ(accounts.createUser("alice", "secret1", ""), AccountStore::Result::kOk);
    ASSERT_EQ(accounts.createUser("bob", "hunter22", ""), AccountStore::Result::kOk);
  }

  // The login form the client sends; the salt is given so that tests decide
  // whether two logins share one.
  static std::string loginBody(const std::string& user, const std::string& password, SessionKey& key,
                               uint8_t saltByte, int64_t clientId = 0, int port = 1) {
    std::array<uint8_t, 8> salt{};
    salt.fill(saltByte);
    key.DeriveWithSalt(password, salt);
    std::string body = "action=login&port=" + std::to_string(port) + "&ip=&ver=201&platform=win32_new&s=" +
                       base64Encode(key.SessionSalt());
    body += clientId > 0 ? "&clientid=" + std::to_string(clientId) : "&username=" + user + "&clientid=0";
    body += "&verify=" + base64Encode(key.EncryptText(user));
    return body;
  }

  std::string login(TestClient& client, const std::string& user, const std::string& password, uint8_t saltByte,
                    const std::string& ip = "127.0.0.5", int port = 1) {
    const std::string reply =
        protocol.login(FormFields(loginBody(user, password, client.key, saltByte, 0, port), FormFields::Decoding::kRaw),
                       ip);
    if (ReplyNumber(reply, "result=") == 0) client.clientId = ReplyNumber(reply, "clientid=");
    return reply;
  }

  std::string send(TestClient& client, const std::string& form, const std::string& ip = "127.0.0.5") {
    return protocol.encryptedRequest(client.clientId, base64Encode(client.key.EncryptText(form)), ip);
  }

  // Logs alice in and makes her a member of a fresh "Admit All" group; returns the group ID.
  int64_t aliceInOpenGroup(TestClient& alice) {
    const int64_t category = catalogue.createCategory(0, "Music", true);
    NewGroup g;
    g.name = "Open Lounge";
    g.parentId = category;
    g.memb = 4;
    g.perm = 2;
    int64_t id = 0;
    EXPECT_EQ(catalogue.createGroup(g, 0, &id), 0);
    EXPECT_EQ(ReplyNumber(login(alice, "alice", "secret1", 1), "result="), 0);
    EXPECT_EQ(ReplyNumber(send(alice, "action=joingroup" + std::to_string(id) + "&groupid=" + std::to_string(id)),
                          "result="),
              0);
    return id;
  }

  TestSchema schema;
  Database db;
  PasswordVault vault;
  AccountStore accounts{db, vault};
  CatalogueStore catalogue{db};
  SessionTable sessions;
  RemovalNotifier notifier;
  int64_t clock = 1'700'000'000;
  ServerContext ctx{accounts, catalogue, sessions, notifier, 201, [this] { return clock; }};
  ClientProtocol protocol{ctx};
};

}  // namespace vantrel::server::testing
