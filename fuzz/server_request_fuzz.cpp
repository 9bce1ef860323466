// SPDX-License-Identifier: MIT
// Everything a peer can send to the server, through the same code the server
// runs: the first byte picks the door.
//   'H' raw HTTP request (client requests and web pages)
//   'E' the plain text of an encrypted request, sealed here with the session
//       key of a logged-in client so that the actions themselves are reached
//   'U' a raw UDP ping datagram
//   'P' the plain text of a UDP ping, sealed into a well-formed datagram
//   'T' the Host header of a getupdate request (the offer names it in its URLs)
// Each input runs against a fresh in-memory server with the demo catalogue,
// offering an update folder that holds one file.

#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "core/base64.h"
#include "server/central_server.h"
#include "server/clients/client_protocol.h"
#include "server/http/http_request.h"
#include "server/storage/sqlite_backend.h"
#include "server/store/server_setup.h"
#include "server/web/web_site.h"

namespace {

using namespace vantrel;
using namespace vantrel::server;

int64_t fixedClock() { return 1700000000; }

// The prepared world, built once: users, the demo catalogue (its group
// passwords make it slow to build), alice logged in and in group 7.
struct Template {
  Template() {
    db.open(":memory:");
    vault.setKey({});
    accounts.createUser("alice", "secret1", "");
    fillDemoCatalogue(catalogue);
    std::array<uint8_t, 8> salt{};
    salt.fill(1);
    key.DeriveWithSalt("secret1", salt);
    const std::string login = "action=login&port=1&ip=&ver=201&platform=win32_new&s=" +
                              base64Encode(key.SessionSalt()) + "&username=alice&clientid=0&verify=" +
                              base64Encode(key.EncryptText("alice"));
    protocol.login(FormFields(login, FormFields::Decoding::kRaw), "");
    protocol.encryptedRequest(1001, base64Encode(key.EncryptText("action=joingroup7&groupid=7")), "");
    std::filesystem::create_directories(updateFolder);
    std::ofstream(updateFolder / "client.bin") << "new client";
    update.setAddress("0.0.0.0", 7001);
  }
  ~Template() {
    std::error_code ec;
    std::filesystem::remove_all(updateFolder, ec);
  }
  Database db;
  PasswordVault vault;
  AccountStore accounts{db, vault};
  CatalogueStore catalogue{db};
  SessionTable sessions;
  RemovalNotifier notifier;
  ServerContext ctx{accounts, catalogue, sessions, notifier, 201, fixedClock, {}};
  ClientProtocol protocol{ctx};
  SessionKey key;
  const std::filesystem::path updateFolder =
      std::filesystem::temp_directory_path() / ("vantrel-fuzz-update-" + std::to_string(::getpid()));
  UpdateOffer update{updateFolder, "fuzz"};
};

Template& world() {
  static Template t;
  return t;
}

// A fresh copy of the prepared world for one input, so inputs do not see
// each other's changes.
struct Harness {
  Harness() {
    db.open(":memory:");
    sqlite3_backup* copy =
        sqlite3_backup_init(sqliteHandleOf(db.writer()), "main", sqliteHandleOf(world().db.writer()), "main");
    sqlite3_backup_step(copy, -1);
    sqlite3_backup_finish(copy);
    vault.setKey({});
    ctx.update = &world().update;
    protocol.restoreSessions();
  }
  Database db;
  PasswordVault vault;
  AccountStore accounts{db, vault};
  CatalogueStore catalogue{db};
  SessionTable sessions;
  // An empty peer address below: probes and removal orders fail at once
  // instead of reaching out to anything.
  ServerContext ctx{accounts, catalogue, sessions, world().notifier, 201, fixedClock, {}};
  ClientProtocol protocol{ctx};
  WebSite web{ctx, "127.0.0.1"};
  const SessionKey& key = world().key;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  Harness h;
  switch (data[0]) {
    case 'H': {
      HttpRequest request;
      if (parseHttpRequest(input, request) != ParseStatus::kComplete) break;
      if (request.path == "/clientrequest") {
        (void)h.protocol.handle(request, "");
      } else if (request.path.rfind(UpdateOffer::kPathPrefix, 0) == 0) {
        (void)world().update.serve(request.path);
      } else {
        (void)h.web.handle(request, "");
      }
      break;
    }
    case 'E': {
      const std::string reply = h.protocol.encryptedRequest(1001, base64Encode(h.key.EncryptText(input)), "");
      // Every reply ends its last field.
      if (!reply.empty() && reply.find("result=") != std::string::npos && reply.back() != '&') std::abort();
      break;
    }
    case 'U': (void)h.protocol.handlePing(input, ""); break;
    case 'P': {
      const std::string cipher = h.key.EncryptText(input);
      std::string datagram(1, static_cast<char>(cipher.size() % 256));
      datagram += cipher;
      datagram += std::string("\x94\x20\x00\x00\xe9\x03\x00\x00", 8);  // UDP port 8340, client 1001
      (void)h.protocol.handlePing(datagram, "");
      break;
    }
    case 'T': {
      // The folder holds a file, so whatever the host, the reply names it.
      const std::string reply = world().update.reply(input);
      if (reply.find("url=") == std::string::npos) std::abort();
      break;
    }
    default: break;
  }
  return 0;
}
