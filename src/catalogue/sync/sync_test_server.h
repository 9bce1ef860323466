// SPDX-License-Identifier: MIT
#pragma once
// A scripted central server for the tests of sharing runs, verification and
// comparison: it answers createdir, add_file, get_fileids and remove_file on
// loopback and records the plain bodies. Tests only; one request at a time.

#include <mutex>
#include <string>
#include <vector>

#include "net/scripted_http_server.h"
#include "net/socket_io.h"
#include "protocol/testing/protocol_fixture.h"

namespace vantrel::sync_testing {

using protocol_testing::ProtocolFixture;
using testing::ScriptedHttpServer;

// A central server that creates directories with IDs from 100 up and gives
// files IDs from 1000 up, recording the plain bodies it got.
class FakeCatalogueServer {
 public:
  explicit FakeCatalogueServer(ProtocolFixture& fixture)
      : m_fixture(fixture), m_server([this](int fd, const std::string& request) { answer(fd, request); }) {
    fixture.useServer(m_server.port());
  }
  std::vector<std::string> bodies() const {
    std::scoped_lock lock(m_mutex);
    return m_bodies;
  }
  // Scripted replies; set them through set(), which holds the lock.
  template <class Fn>
  void set(Fn&& change) {
    std::scoped_lock lock(m_mutex);
    change(*this);
  }

  std::string failCreateDir;  // a reply for createdir instead of success
  std::string serverIds = "result=0&numfiles=0&";  // the get_fileids reply
  std::string failAddFiles;  // a reply for add_file instead of success
  std::string failAddFilesWith;  // ... only for bodies holding this text, when set

 private:
  void answer(int fd, const std::string& request) {
    const std::string body = m_fixture.plainBody(request);
    std::scoped_lock lock(m_mutex);
    m_bodies.push_back(body);
    std::string reply = "result=0&";
    if (body.rfind("action=createdir", 0) == 0) {
      reply = failCreateDir.empty() ? "result=0&dirid=" + std::to_string(m_nextDir++) + "&" : failCreateDir;
    } else if (body.rfind("action=get_fileids", 0) == 0) {
      reply = serverIds;
    } else if (body.rfind("action=add_file", 0) == 0 && !failAddFiles.empty() &&
               body.find(failAddFilesWith) != std::string::npos) {
      reply = failAddFiles;
    } else if (body.rfind("action=add_file", 0) == 0) {
      reply.clear();
      for (std::size_t at = body.find("&cfileid="); at != std::string::npos; at = body.find("&cfileid=", at + 1)) {
        reply += "fileid=" + std::to_string(m_nextFile++) + "&";
      }
      reply += "result=0&";
    }
    sendText(fd, "HTTP/1.0 200 OK\r\n\r\n" + reply);
  }

  ProtocolFixture& m_fixture;
  mutable std::mutex m_mutex;
  std::vector<std::string> m_bodies;  // guarded by m_mutex
  int m_nextDir = 100;
  int m_nextFile = 1000;
  ScriptedHttpServer m_server;
};

}  // namespace vantrel::sync_testing
