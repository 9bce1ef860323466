// SPDX-License-Identifier: MIT
#include "fileserver/file_server.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <stop_token>
#include <thread>

#include "core/base64.h"
#include "fileserver/file_server_connection.h"
#include "fileserver/testing_fakes.h"
#include "net/socket_io.h"
#include "net/test_sockets.h"
#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using vantrel::testing::readAll;
using vantrel::testing::sendAll;
using vantrel::testing::waitFor;

constexpr int32_t kFileId = 77;

std::string pattern(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
  return s;
}

// Replaces the date line, which changes by the second.
std::string withoutDate(std::string reply) {
  const std::size_t start = reply.find("\r\nDate:");
  if (start == std::string::npos) return reply;
  const std::size_t end = reply.find("\r\n", start + 2);
  if (end != std::string::npos) reply.replace(start + 7, end - start - 7, "*");
  return reply;
}

std::string header(int status) {
  return "HTTP/1.0 " + std::to_string(status) + " OK\r\nDate:*\r\nServer: Vantrel Windows Server 201\r\nMIME-verion: 1.0\r\n";
}

std::string page(int status, const std::string& body) { return header(status) + "Content-type: text/html\r\n\r\n" + body; }
std::string errorPage(int status, int code) { return page(status, "page client-error_template.html code " + std::to_string(code)); }

// Senders that trickle their request a byte at a time and never finish it,
// connecting again whenever the server cuts or refuses them, until destroyed.
class SlowSenders {
 public:
  SlowSenders(uint16_t port, std::string from, int count)
      : m_thread([this, port, from = std::move(from), count](std::stop_token stop) { run(stop, port, from, count); }) {}

  int connects() const { return m_connects; }

 private:
  static bool answeredOrClosed(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) != 0;
  }

  void run(const std::stop_token& stop, uint16_t port, const std::string& from, int count) {
    std::vector<UniqueFd> sockets(static_cast<std::size_t>(count));
    std::mutex mutex;
    std::condition_variable_any paced;
    while (!stop.stop_requested()) {
      for (auto& fd : sockets) {
        if (fd && answeredOrClosed(fd.get())) fd.reset();
        if (!fd) {
          fd = testing::connectLoopback(port, from.c_str());
          ++m_connects;
        }
        if (fd && ::send(fd.get(), "G", 1, MSG_NOSIGNAL) != 1) fd.reset();
      }
      std::unique_lock lock(mutex);
      paced.wait_for(lock, stop, 250ms, [] { return false; });
    }
  }

  std::atomic<int> m_connects{0};
  std::jthread m_thread;
};

class FileServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    content = pattern(1000);
    std::ofstream(dir.file("data.bin"), std::ios::binary) << content;
    CVantreldFile record(dir.file("data.bin"));
    record.fileName = "data.bin";
    record.fileId = kFileId;
    record.groupId = 7;
    record.groupName = "Crew";
    files.Add(record);
    ASSERT_EQ(server.listen(0), kListenOk);
    ASSERT_EQ(server.start(), 0);
  }

  // Sends the raw request from `from` (a loopback address) and returns the reply.
  std::string exchange(const std::string& request, const char* from = "127.0.0.1") {
    UniqueFd fd = vantrel::testing::connectLoopback(server.port(), from);
    if (!fd) return "connect failed";
    sendAll(fd.get(), request);
    return withoutDate(readAll(fd.get()));
  }

  std::string get(const std::string& url, const std::string& headers = "", const char* from = "127.0.0.1") {
    return exchange("GET " + url + " HTTP/1.0\r\n" + headers + "\r\n", from);
  }

  vantrel::testing::TempFolder dir;
  std::string content;
  SharedFileList files{dir.file("user.dat")};
  testing::FakeHost host;
  testing::FakeRenderer renderer;
  testing::ReversingCipher cipher;
  FileServer server{host, renderer, files, nullptr, &cipher};
};

// The "@" form of a token for the reversing cipher.
std::string sealed(const std::string& token) {
  return "@token=" + base64Encode(std::string(token.rbegin(), token.rend()));
}

TEST_F(FileServerTest, MalformedRequestsGetTheirErrors) {
  struct Case {
    const char* name;
    std::string request;
    std::string reply;
  };
  const Case cases[] = {
      {"unknown method", "DELETE /template/x HTTP/1.0\r\n\r\n", errorPage(200, 2)},
      {"method of 11 characters", "PROPFINDXYZ /template/x HTTP/1.0\r\n\r\n", errorPage(200, 2)},
      {"no protocol", "GET /template/x\r\n\r\n", errorPage(200, 2)},
      {"one slash before the query", "GET /getfile?fileid=77 HTTP/1.0\r\n\r\n", errorPage(200, 4)},
      {"unknown command without token", "GET /nothing/ HTTP/1.0\r\n\r\n", errorPage(200, 43)},
      {"unknown command with token", "get /nothing/?token=a$b HTTP/1.0\r\n\r\n", errorPage(200, 6)},
      {"token without second piece", "GET /template/x.html?token=ab HTTP/1.0\r\n\r\n", errorPage(200, 44)},
      {"template", "GET /template/client-info_template.html?token=x$y HTTP/1.0\r\n\r\n",
       page(200, "page client-info_template.html code -1")},
      {"template that does not exist", "GET /template/missing.html?token=x$y HTTP/1.0\r\n\r\n", errorPage(200, 400)},
      {"POST without command", "POST /addFiles HTTP/1.0\r\n\r\n", errorPage(200, 7)},
      {"POST without body", "POST /addFiles/?token=a$b HTTP/1.0\r\nContent-length: 0\r\n\r\n", errorPage(200, 9)},
      {"POST of an unknown command", "POST /frobnicate/?token=a$b HTTP/1.0\r\nContent-length: 3\r\n\r\na=1",
       errorPage(200, 11)},
      {"POST length of 21 characters",
       "POST /addFiles/?token=a$b HTTP/1.0\r\nContent-length: 123456789012345678901\r\n\r\n", errorPage(200, 8)},
      {"POST length over 1 MiB", "POST /addFiles/?token=a$b HTTP/1.0\r\nContent-length: 1048577\r\n\r\n",
       errorPage(200, 8)},
      {"negative POST length", "POST /addFiles/?token=a$b HTTP/1.0\r\nContent-length: -1\r\n\r\n", errorPage(200, 8)},
      {"POST length not a number", "POST /addFiles/?token=a$b HTTP/1.0\r\nContent-length: lots\r\n\r\n",
       errorPage(200, 8)},
      {"system message needs no answer", "POST /systemmsg/?token=a$b HTTP/1.0\r\nContent-length: 5\r\n\r\nmsg=1", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(exchange(c.request), c.reply);
  }
}

TEST_F(FileServerTest, OwnClientGetsErrorsAsOneLineOfText) {
  EXPECT_EQ(get("/nothing/?token=a$b", "User-Agent: Vantrel Client/201/windows\r\n"),
            "client=1&error=6&errorMessage=Unrecognized get command");
  // The same failure for a browser is a page.
  EXPECT_EQ(get("/nothing/?token=a$b", "User-Agent: Mozilla/5.0\r\n"), errorPage(200, 6));
}

TEST_F(FileServerTest, SilentConnectionsAndEndlessLinesAreDropped) {
  auto quiet = testing::connectLoopback(server.port());
  EXPECT_EQ(readAll(quiet.get(), 5s), "");  // closed after the 2-second wait, no reply

  auto trickle = testing::connectLoopback(server.port());
  const auto start = std::chrono::steady_clock::now();
  std::string reply;
  for (int i = 0; i < 40; ++i) {  // one byte every 400 ms, never a line end
    if (::send(trickle.get(), "G", 1, MSG_NOSIGNAL) != 1) break;
    std::this_thread::sleep_for(400ms);
  }
  reply = readAll(trickle.get(), 2s);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
  EXPECT_TRUE(waitFor([&] { return server.connectionCount() == 0; }));
}

TEST_F(FileServerTest, HeadersArrivingLateStillCount) {
  auto fd = testing::connectLoopback(server.port());
  sendAll(fd.get(), "GET /getfile/?fileid=77 HTTP/1.0\r\n");
  std::this_thread::sleep_for(200ms);
  sendAll(fd.get(), "Range: bytes=990-\r\n\r\n");
  const std::string reply = withoutDate(readAll(fd.get()));
  EXPECT_EQ(reply.substr(0, 17), "HTTP/1.0 206 OK\r\n");
  EXPECT_EQ(reply.substr(reply.size() - 10), content.substr(990));
}

TEST_F(FileServerTest, DownloadsSendTheRightBytesForEveryRange) {
  struct Case {
    const char* range;  // "" for none
    int status;
    std::string contentRange;  // "" when the reply has none
    std::size_t first, length;
  };
  const Case cases[] = {
      {"", 200, "", 0, 1000},
      {"bytes=100-", 206, "bytes 100-999/1000", 100, 900},
      {"bytes=0-1000", 200, "", 0, 1000},
      {"bytes=0-5000", 200, "", 0, 1000},
      {"bytes=10-19", 206, "bytes 10-19/1000", 10, 10},
      {"bytes=-1", 206, "bytes 999-999/1000", 999, 1},
      {"bytes=1000-", 416, "bytes */1000", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.range);
    const std::string extra = *c.range ? std::string("Range: ") + c.range + "\r\n" : "";
    std::string want = header(c.status) + "Content-type: application/octet-stream\r\nLast-modified: ";
    const std::string reply = get("/getfile/?fileid=77&username=bob", extra);
    ASSERT_EQ(reply.substr(0, want.size()), want);
    std::string tail = "GMT\r\nContent-length: " + std::to_string(c.length) + "\r\n";
    if (!c.contentRange.empty()) tail += "Content-Range: " + c.contentRange + "\r\n";
    tail += "\r\n" + content.substr(c.first, c.length);
    ASSERT_GE(reply.size(), tail.size());
    EXPECT_EQ(reply.substr(reply.size() - tail.size()), tail);
  }
  // Browsers get links whose path ends with the file's name, so that they save
  // it under that name; the file server goes by "getfile" and "fileid" alone.
  for (const char* path : {"/getfile/Night%20Train.mp3?fileid=77", "/getfile/a%2Fb?fileid=77&username=bob"}) {
    SCOPED_TRACE(path);
    const std::string named = get(path);
    EXPECT_EQ(named.substr(0, 17), "HTTP/1.0 200 OK\r\n");
    EXPECT_EQ(named.substr(named.size() - 1000), content);
  }
  // Only the exact header name counts.
  const std::string lower = get("/getfile/?fileid=77", "range: bytes=100-\r\n");
  EXPECT_EQ(lower.substr(0, 17), "HTTP/1.0 200 OK\r\n");
  EXPECT_EQ(lower.substr(lower.size() - 1000), content);

  EXPECT_EQ(host.filesSent, 9);  // the 416 reply sent nothing
  EXPECT_EQ(files.Lookup(kFileId)->downloadCount, 9);
  const auto recent = server.recentUploads().entries();
  ASSERT_FALSE(recent.empty());
  EXPECT_EQ(recent[0].result, "Success");
  EXPECT_EQ(recent[0].groupName, "Crew");
  EXPECT_EQ(host.active, 0);
}

// A download to this computer without a limit goes out in large pieces, one
// system call each; the counters still get it in pieces of at most 9,000
// bytes, and corking keeps nothing back at the end.
TEST_F(FileServerTest, LargeLocalDownloadsAreCountedInSmallPieces) {
  const std::string large = pattern(3 * 1000 * 1000 + 17);
  std::ofstream(dir.file("large.bin"), std::ios::binary) << large;
  CVantreldFile record(dir.file("large.bin"));
  record.fileName = "large.bin";
  record.fileId = 78;
  files.Add(record);
  const std::string reply = get("/getfile/?fileid=78");
  ASSERT_GE(reply.size(), large.size());
  EXPECT_EQ(reply.substr(reply.size() - large.size()), large);
  EXPECT_NE(reply.find("Content-length: 3000017\r\n\r\n"), std::string::npos);
  EXPECT_EQ(host.sentBytes, static_cast<int64_t>(large.size()));
  EXPECT_LE(host.largestCounted, 9000u);
  EXPECT_GT(host.largestCounted, 0u);
}

// The per-user limit paces downloads to other computers (127.0.0.2 is one),
// never this computer's own: with a remote download crawling at the limit, a
// local one of the same file arrives whole at once.
TEST_F(FileServerTest, ThePerUserLimitPacesRemoteDownloadsOnly) {
  const std::string big = pattern(3 << 20);
  std::ofstream(dir.file("big.bin"), std::ios::binary) << big;
  CVantreldFile record(dir.file("big.bin"));
  record.fileName = "big.bin";
  record.fileId = 78;
  files.Add(record);
  constexpr int64_t kRate = 100000;  // the whole file would take half a minute
  host.userBand = static_cast<int>(kRate);

  const auto started = std::chrono::steady_clock::now();
  auto remote = testing::connectLoopback(server.port(), "127.0.0.2");
  ASSERT_TRUE(remote);
  sendAll(remote.get(), "GET /getfile/?fileid=78 HTTP/1.0\r\n\r\n");
  std::shared_ptr<UploadSession> remoteSession;
  ASSERT_TRUE(waitFor([&] {
    for (const auto& s : host.allSessions()) {
      if (s->peerAddress() == "127.0.0.2" && s->bytesSent > 0) remoteSession = s;
    }
    return remoteSession != nullptr;
  }));

  const std::string local = get("/getfile/?fileid=78");
  ASSERT_GE(local.size(), big.size());
  EXPECT_EQ(local.substr(local.size() - big.size()), big);

  // However long the local one took, the remote one kept to the limit: no
  // more than the rate allows in that time, plus the piece in flight.
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_LE(remoteSession->bytesSent, static_cast<int64_t>(seconds * kRate) + 9000);
  EXPECT_LT(remoteSession->bytesSent, static_cast<int64_t>(big.size()));
  remoteSession->active = false;
  ASSERT_TRUE(waitFor([&] { return host.active == 0; }));
}

TEST_F(FileServerTest, DownloadChecksAnswerWithTheirErrors) {
  struct Case {
    const char* name;
    std::string url;
    std::function<void()> setup;
    std::string reply;
    const char* from = "127.0.0.1";
  };
  const Case cases[] = {
      {"no file ID", "/getfile/?username=x", [] {}, errorPage(400, 23)},
      {"letters for an ID", "/getfile/?fileid=abc", [] {}, errorPage(400, 24)},
      {"ID not shared", "/getfile/?fileid=0", [] {}, errorPage(404, 25)},
      {"no download token", "/getfile/?fileid=77", [this] { host.security = true; }, errorPage(401, 26)},
      {"token for another group", "/getfile/?fileid=77&token=127.0.0.1$8", [] {}, errorPage(401, 30)},
      // Only peers are limited: this computer is never kept out.
      {"too many downloaders", "/getfile/?fileid=77&" + sealed("127.0.0.2$7"), [this] { host.users = 0; },
       errorPage(502, 31), "127.0.0.2"},
      {"file gone from disk", "/getfile/?fileid=77&token=127.0.0.1$7",
       [this] {
         host.users = 15;
         std::filesystem::remove(dir.file("data.bin"));
       },
       errorPage(404, 32)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.setup();
    EXPECT_EQ(get(c.url, "", c.from), c.reply);
  }
  EXPECT_EQ(host.comparisons, 1);
  EXPECT_EQ(host.verifications, 1);
  EXPECT_EQ(host.filesSent, 0);
}

TEST_F(FileServerTest, FilesThatCannotBeServedAreNotOpenedBlindly) {
  // A shared path that became a pipe must not hang the connection.
  ::unlink(dir.file("data.bin").c_str());
  ASSERT_EQ(::mkfifo(dir.file("data.bin").c_str(), 0600), 0);
  EXPECT_EQ(get("/getfile/?fileid=77"), errorPage(404, 32));

  // A file another program has locked is in use.
  ::unlink(dir.file("data.bin").c_str());
  std::ofstream(dir.file("data.bin")) << "x";
  UniqueFd holder(::open(dir.file("data.bin").c_str(), O_RDONLY));
  ASSERT_EQ(::flock(holder.get(), LOCK_EX), 0);
  EXPECT_EQ(get("/getfile/?fileid=77"), errorPage(404, 38));
  holder = UniqueFd();

  // A file marked missing is not served, whatever stands at its path now.
  files.Update(kFileId, [](CVantreldFile& r) { r.isValid = false; });
  EXPECT_EQ(get("/getfile/?fileid=77"), errorPage(404, 32));
}

TEST_F(FileServerTest, ASharedFileReplacedByALinkIsNotServedButALinkToASharedFileIs) {
  std::ofstream(dir.file("secret.txt")) << "not shared";
  // A link to another shared file, shared under a name of its own.
  std::filesystem::create_symlink(dir.file("data.bin"), dir.file("alias.bin"));
  CVantreldFile alias(dir.file("alias.bin"));
  alias.fileName = "alias.bin";
  alias.fileId = 78;
  alias.groupId = 7;
  files.Add(alias);
  const std::string ok = header(200).substr(0, 17);
  EXPECT_EQ(get("/getfile/?fileid=78").substr(0, 17), ok);
  EXPECT_NE(get("/getfile/?fileid=78").find(content), std::string::npos);

  // The shared file itself becomes a link to a file nobody shared.
  std::filesystem::remove(dir.file("data.bin"));
  std::filesystem::create_symlink(dir.file("secret.txt"), dir.file("data.bin"));
  EXPECT_EQ(get("/getfile/?fileid=77"), errorPage(404, 32));
  // A link that now leads through that link proves nothing either.
  EXPECT_EQ(get("/getfile/?fileid=78"), errorPage(404, 32));
}

TEST_F(FileServerTest, PerUserLimitCountsRemoteConnectionsOnly) {
  host.perUser = 1;
  // A second connection from the same remote address stays open meanwhile.
  UniqueFd other(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.2", &local.sin_addr);
  ASSERT_EQ(::bind(other.get(), reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(server.port());
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(other.get(), reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  ASSERT_TRUE(waitFor([&] {
    for (const auto& s : host.allSessions()) {
      if (s->peerAddress() == "127.0.0.2") return true;
    }
    return false;
  }));
  EXPECT_EQ(get("/getfile/?fileid=77", "", "127.0.0.2"), errorPage(502, 52));
  // This computer is never limited.
  EXPECT_EQ(get("/getfile/?fileid=77").substr(0, 17), "HTTP/1.0 200 OK\r\n");
}

TEST_F(FileServerTest, DeactivatedTransferStopsAndIsRecordedUnfinished) {
  const std::string big = pattern(3 << 20);
  std::ofstream(dir.file("big.bin"), std::ios::binary) << big;
  CVantreldFile record(dir.file("big.bin"));
  record.fileName = "big.bin";
  record.fileId = 78;
  files.Add(record);
  host.userBand = 200000;  // slow enough to stop it half-way
  host.contest = true;

  // From another computer: this computer's own downloads are not paced.
  auto fd = testing::connectLoopback(server.port(), "127.0.0.2");
  sendAll(fd.get(), "GET /getfile/?fileid=78 HTTP/1.0\r\n\r\n");
  std::shared_ptr<UploadSession> session;
  ASSERT_TRUE(waitFor([&] {
    for (const auto& s : host.allSessions()) {
      if (s->fileId == 78 && s->bytesSent > 0) session = s;
    }
    return session != nullptr;
  }));
  session->active = false;
  const std::string reply = readAll(fd.get());
  EXPECT_LT(reply.size(), big.size());
  ASSERT_TRUE(waitFor([&] { return host.active == 0; }));
  const auto recent = server.recentUploads().entries();
  ASSERT_FALSE(recent.empty());
  EXPECT_EQ(recent[0].result, "Did not finish");
  std::scoped_lock lock(host.mutex);
  ASSERT_EQ(host.awards.size(), 1u);
  EXPECT_EQ(host.awards[0].second, 0);
}

TEST_F(FileServerTest, AStalledReaderGivesItsSlotUpAndThisComputerIsNeverKeptOut) {
  const std::string big = pattern(8 << 20);
  std::ofstream(dir.file("big.bin"), std::ios::binary) << big;
  CVantreldFile record(dir.file("big.bin"));
  record.fileName = "big.bin";
  record.fileId = 78;
  files.Add(record);
  host.users = 1;
  server.setStalledDownloadLimit(500ms);

  // A peer that asks for the big file and never reads a byte of it.
  UniqueFd stalled = testing::connectLoopback(server.port(), "127.0.0.2");
  ASSERT_TRUE(stalled);
  sendAll(stalled.get(), "GET /getfile/?fileid=78 HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(waitFor([&] { return host.active == 1; }));
  // Its slot is the only one: another peer is told to come back later ...
  EXPECT_EQ(get("/getfile/?fileid=77", "", "127.0.0.3"), errorPage(502, 31));
  // ... while this computer is served, and does not count against the peers.
  EXPECT_EQ(get("/getfile/?fileid=77").substr(0, 17), header(200).substr(0, 17));
  // Once the reader has taken nothing for a while, the slot is free again.
  ASSERT_TRUE(waitFor([&] { return host.active == 0; }, 10s));
  EXPECT_EQ(get("/getfile/?fileid=77", "", "127.0.0.3").substr(0, 17), header(200).substr(0, 17));
  const auto recent = server.recentUploads().entries();
  EXPECT_TRUE(std::any_of(recent.begin(), recent.end(), [](const auto& e) { return e.result == "Did not finish"; }));
}

// Commands that only say that they ran, so that a refusal shows as nothing run.
class RecordingCommands : public CommandHandlers {
 public:
  void removeFile(FileServerConnection& c) override { ran(c, "removeFile"); }
  void sendFile(FileServerConnection& c, const std::vector<HeaderLine>&) override { ran(c, "sendFile"); }
  void addFiles(FileServerConnection& c) override { ran(c, "addFiles"); }
  void fileDescription(FileServerConnection& c) override { ran(c, "fileDescription"); }
  void removeUsers(FileServerConnection& c) override { ran(c, "removeUsers"); }
  void removeFiles(FileServerConnection& c) override { ran(c, "removeFiles"); }
  std::atomic<int> calls{0};

 private:
  void ran(FileServerConnection& c, const std::string& what) {
    ++calls;
    sendText(c.socket(), "ran " + what);
  }
};

TEST_F(FileServerTest, PagesOfOtherSitesCannotDriveTheServer) {
  RecordingCommands commands;
  FileServer driven{host, renderer, files, &commands, nullptr};
  ASSERT_EQ(driven.listen(0), kListenOk);
  ASSERT_EQ(driven.start(), 0);
  const std::string refused = errorPage(403, 43);
  const std::string addFiles = "POST /addFiles/?token=a$b HTTP/1.0\r\nContent-length: 7\r\n";
  const std::string removeFile = "GET /remove_file/?fileid=77 HTTP/1.0\r\n";
  const std::string info = "GET /template/client-info_template.html?token=x$y HTTP/1.0\r\n";
  struct Case {
    const char* name;
    std::string request;  // up to the headers' end
    std::string want;     // the reply starts with this
  };
  const Case cases[] = {
      {"origin named like loopback", addFiles + "Origin: http://127.evil.example\r\n", refused},
      {"referer named like loopback", addFiles + "Referer: http://127.0.0.1.evil.example/x\r\n", refused},
      {"origin named like localhost", addFiles + "Origin: http://localhost.evil.example\r\n", refused},
      {"origin under the central server's name", addFiles + "Origin: http://central.example.evil.example\r\n",
       refused},
      {"origin another site", addFiles + "Origin: https://evil.example\r\n", refused},
      {"opaque origin", addFiles + "Origin: null\r\n", refused},
      {"cross-site fetch", addFiles + "Sec-Fetch-Site: cross-site\r\n", refused},
      {"rebound host", addFiles + "Host: rebound.example:8323\r\n", refused},
      {"loopback origin", addFiles + "Origin: http://127.0.0.1:8323\r\n", "ran addFiles"},
      {"other loopback origin", addFiles + "Origin: http://127.0.0.2:8323\r\n", "ran addFiles"},
      {"IPv6 loopback origin", addFiles + "Origin: http://[::1]:8323\r\n", "ran addFiles"},
      {"localhost origin", addFiles + "Origin: http://LOCALHOST:8323\r\nHost: localhost:8323\r\n", "ran addFiles"},
      {"central server page", addFiles + "Origin: https://central.example\r\n", "ran addFiles"},
      {"no browser headers", addFiles, "ran addFiles"},
      {"template from another site", info + "Origin: https://evil.example\r\n", refused},
      {"template under a rebound name", info + "Host: rebound.example:8323\r\n", refused},
      {"template from this computer", info + "Origin: http://localhost:8323\r\nHost: localhost:8323\r\n",
       page(200, "page client-info_template.html code -1")},
      {"remove_file from a page elsewhere", removeFile + "Sec-Fetch-Site: cross-site\r\n", refused},
      {"remove_file with another origin", removeFile + "Origin: https://evil.example\r\n", refused},
      {"remove_file with a look-alike referer", removeFile + "Referer: http://127.evil.example/\r\n", refused},
      {"remove_file under a rebound name", removeFile + "Host: rebound.example:8323\r\n", refused},
      {"remove_file from the central server", removeFile + "Host: 127.0.0.1:8323\r\n", "ran removeFile"},
      {"download under a rebound name", "GET /getfile/?fileid=77 HTTP/1.0\r\nHost: rebound.example\r\n", refused},
      {"file page under a rebound name", "GET /getfileinfo/?fileid=77 HTTP/1.0\r\nHost: rebound.example\r\n",
       refused},
      {"template image under a rebound name", "GET /images/logo.gif HTTP/1.0\r\nHost: rebound.example\r\n", refused},
      {"download linked from another site",
       "GET /getfile/?fileid=77 HTTP/1.0\r\nHost: 127.0.0.1:8323\r\nReferer: https://evil.example/\r\n",
       header(200) + "Content-type: application/octet-stream"},
      {"file page by address", "GET /getfileinfo/?fileid=77 HTTP/1.0\r\nHost: 127.0.0.1\r\n",
       page(200, "page client-file_info_template.html code 77")},
      {"image by this computer's name", "GET /images/logo.gif HTTP/1.0\r\nHost: localhost\r\n",
       header(200) + "Content-type: image/gif"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int before = commands.calls;
    UniqueFd fd = vantrel::testing::connectLoopback(driven.port());
    ASSERT_TRUE(fd);
    const bool post = c.request.rfind("POST", 0) == 0;
    sendAll(fd.get(), c.request + "\r\n" + (post ? "a=1&b=2" : ""));
    const std::string reply = withoutDate(readAll(fd.get()));
    EXPECT_EQ(reply.substr(0, c.want.size()), c.want);
    if (c.want == refused) {
      EXPECT_EQ(reply, refused);
      EXPECT_EQ(commands.calls, before);
    }
  }
}

TEST_F(FileServerTest, AnotherComputerGetsInOnlyWithAnEncryptedToken) {
  // 127.0.0.2 is neither loopback's 127.0.0.1 nor our own address: a remote
  // peer, who can write a plain token for its own address and a group ID that
  // listings show, but cannot seal one with this client's session key.
  host.security = true;
  const std::string download = "/getfile/?fileid=77&";
  const std::string info = "/getfileinfo/?fileid=77&";
  const std::string users = "/template/client-connected_users_template.html?";
  const std::string ok = header(200).substr(0, 17);
  struct Case {
    const char* name;
    std::string url;
    const char* from;
    std::string want;  // the start of the reply
  };
  const Case cases[] = {
      {"plain download token from elsewhere", download + "token=127.0.0.2$7", "127.0.0.2", errorPage(401, 26)},
      {"plain and sealed token together", download + "token=127.0.0.2$7&" + sealed("127.0.0.2$7"), "127.0.0.2",
       errorPage(401, 26)},
      {"sealed download token", download + sealed("127.0.0.2$7"), "127.0.0.2", ok},
      {"plain token on this computer", download + "token=127.0.0.1$7", "127.0.0.1", ok},
      {"plain info token from elsewhere", info + "token=127.0.0.2$7", "127.0.0.2", errorPage(200, 26)},
      {"sealed info token", info + sealed("127.0.0.2$7"), "127.0.0.2",
       page(200, "page client-file_info_template.html code 77")},
      {"plain page token from elsewhere", users + "token=r$127.0.0.2", "127.0.0.2", errorPage(200, 43)},
      {"sealed page token", users + sealed("r$127.0.0.2"), "127.0.0.2",
       page(200, "page client-connected_users_template.html code -1")},
      {"plain page token on this computer", users + "token=r$127.0.0.1", "127.0.0.1",
       page(200, "page client-connected_users_template.html code -1")},
      {"plain token for an unknown command", "/nothing/?token=r$127.0.0.2", "127.0.0.2", errorPage(200, 43)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(get(c.url, "", c.from).substr(0, c.want.size()), c.want);
  }
  // Commands posted from elsewhere follow the same rule.
  EXPECT_EQ(exchange("POST /systemmsg/?token=r$127.0.0.2 HTTP/1.0\r\nContent-length: 3\r\n\r\na=1", "127.0.0.2"),
            errorPage(200, 43));
  EXPECT_EQ(exchange("POST /systemmsg/?token=r$127.0.0.1 HTTP/1.0\r\nContent-length: 3\r\n\r\na=1"), "");
}

TEST_F(FileServerTest, ShareFilesPageFollowsWhereTheRequestComesFrom) {
  const std::string url = "/template/client-share_files_template.html?token=r$127.0.0.2&dirid=4";
  const std::string remoteUrl = "/template/client-share_files_template.html?" + sealed("r$127.0.0.2") + "&dirid=4";
  EXPECT_EQ(get(url), page(200, "page client-loading_share_window_template.html code -1"));
  {
    std::scoped_lock lock(host.mutex);
    ASSERT_EQ(host.shareWindowParams.size(), 1u);
    EXPECT_EQ(*host.shareWindowParams[0].first("dirid"), "4");
  }
  host.remotes = false;
  EXPECT_EQ(get(remoteUrl, "", "127.0.0.2"), errorPage(200, 21));
  host.remotes = true;
  host.firstTime = true;
  EXPECT_EQ(get(remoteUrl, "", "127.0.0.2"), page(200, "page client-first_time.html code -1"));
  EXPECT_EQ(host.firstTimeCleared, 1);
  EXPECT_EQ(get(remoteUrl, "", "127.0.0.2"), page(200, "page client-share_files_template.html code -1"));

  // A client without a window of its own shows this computer the share page.
  host.shareWindow = false;
  EXPECT_EQ(get(url), page(200, "page client-share_files_template.html code -1"));
  std::scoped_lock lock(host.mutex);
  EXPECT_EQ(host.shareWindowParams.size(), 1u);
}

TEST_F(FileServerTest, ImagesComeFromTheTemplateArchive) {
  EXPECT_EQ(get("/images/logo.gif"),
            header(200) + "Content-type: image/gif\r\nContent-length: 12\r\n\r\nGIF89a-bytes");
  EXPECT_EQ(get("/images/none.gif"), header(200) + "Content-type: image/gif\r\nContent-length: 0\r\n\r\n");
}

TEST_F(FileServerTest, FileInfoChecksTheIdThenRendersThePage) {
  EXPECT_EQ(get("/getfileinfo/"), errorPage(200, 12));
  EXPECT_EQ(get("/getfileinfo/?fileid=x"), errorPage(200, 13));
  EXPECT_EQ(get("/getfileinfo/?fileid=5"), errorPage(200, 14));
  EXPECT_EQ(get("/getfileinfo/?fileid=77"), page(200, "page client-file_info_template.html code 77"));
}

TEST_F(FileServerTest, ConnectionsOverTheLimitAreRefusedWithError3) {
  server.setMaxConnections(2);
  std::vector<UniqueFd> held;
  for (int i = 0; i < 2; ++i) held.push_back(testing::connectLoopback(server.port()));
  ASSERT_TRUE(waitFor([&] { return server.connectionCount() == 2; }));
  std::vector<UniqueFd> refused;
  for (int i = 0; i < 100; ++i) {
    refused.push_back(testing::connectLoopback(server.port()));
    sendAll(refused.back().get(), "GET /template/x?token=a$b HTTP/1.0\r\n\r\n");
  }
  int answered = 0;
  for (auto& fd : refused) answered += withoutDate(readAll(fd.get(), 5s)) == errorPage(200, 3) ? 1 : 0;
  EXPECT_EQ(answered, 100);
}

TEST_F(FileServerTest, SlowSendersFromOneAddressLeaveRoomForEveryoneElse) {
  // Near its limit from 15 connections on; the flood alone may hold 16.
  server.setMaxConnections(20);
  SlowSenders flood(server.port(), "127.0.0.2", 40);
  ASSERT_TRUE(waitFor([&] { return server.connectionCount() >= FileServer::kConnectionsPerAddress; }));
  ASSERT_TRUE(server.nearConnectionLimit());

  struct Case {
    const char* name;
    const char* from;
    std::string url;
    std::string replyStart;
  };
  const Case cases[] = {
      {"the flooding address asks once more", "127.0.0.2", "/getfileinfo/?fileid=77", errorPage(200, 3)},
      {"another computer downloads", "127.0.0.3", "/getfile/?fileid=77&username=bob", "HTTP/1.0 200 OK\r\n"},
      {"another computer opens a file page", "127.0.0.4", "/getfileinfo/?fileid=77",
       page(200, "page client-file_info_template.html code 77")},
      {"this computer opens a file page", "127.0.0.1", "/getfileinfo/?fileid=77",
       page(200, "page client-file_info_template.html code 77")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string reply = get(c.url, "", c.from);
    EXPECT_EQ(reply.substr(0, c.replyStart.size()), c.replyStart) << server.connectionCount();
  }

  // A sender that starts while the server is this busy gets a short time for
  // its request head, not the usual ten seconds.
  auto slow = testing::connectLoopback(server.port(), "127.0.0.5");
  ASSERT_TRUE(slow);
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < 8s && ::send(slow.get(), "G", 1, MSG_NOSIGNAL) == 1) {
    pollfd p{slow.get(), POLLIN, 0};
    if (::poll(&p, 1, 300) != 0) break;
  }
  // What it sent is no request line: it is told so, or simply cut.
  const std::string cut = withoutDate(readAll(slow.get(), 2s));
  EXPECT_TRUE(cut.empty() || cut == errorPage(200, 2)) << cut;
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

  // Real requests keep being answered while the flood goes on.
  int answered = 0;
  for (int i = 0; i < 20; ++i) {
    answered += get("/getfileinfo/?fileid=77") == page(200, "page client-file_info_template.html code 77") ? 1 : 0;
  }
  EXPECT_EQ(answered, 20);
  EXPECT_GT(flood.connects(), 40);  // it was cut and refused, and came back
}

}  // namespace
}  // namespace vantrel
