// SPDX-License-Identifier: MIT
#include "net/client_request.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/base64.h"
#include "net/scripted_http_server.h"
#include "net/socket_io.h"
#include "net/test_sockets.h"
#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

using testing::ScriptedHttpServer;

std::string url(uint16_t port, std::string_view path = "\\clientrequest?clientid=7") {
  return "http:\\\\127.0.0.1:" + std::to_string(port) + std::string(path);
}

// A port with nothing listening on it.
uint16_t closedPort() {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof at;
  ::bind(fd.get(), reinterpret_cast<sockaddr*>(&at), sizeof at);
  ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&at), &length);
  return ntohs(at.sin_port);
}

std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ClientRequest, ParseUrlSplitsHostPortAndTarget) {
  struct Case { const char* url; int flags; const char* host; uint16_t port; const char* target; };
  const Case cases[] = {
      {"http:\\\\10.0.0.1:80\\clientrequest?clientid=7", 0, "10.0.0.1", 80, "clientrequest?clientid=7"},
      {"http://127.0.0.1/server.html", 0, "127.0.0.1", 80, "/server.html"},
      {"127.0.0.1:7001/a*b", 0, "127.0.0.1", 7001, "a"},
      {"127.0.0.1:abc/x", 0, "127.0.0.1", 80, "x"},
      {"127.0.0.1:99999/x", 0, "127.0.0.1", 80, "x"},
      {"127.0.0.1?q=1", 0, "127.0.0.1", 80, "?q=1"},
      {"http:///path", ClientRequest::kFlagNoHost, "", 80, "/path"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    ClientRequest req;
    EXPECT_EQ(req.ParseUrl(c.url), c.flags);
    if (c.flags == 0) {
      EXPECT_EQ(req.host(), c.host);
    }
    EXPECT_EQ(req.port(), c.port);
    EXPECT_EQ(req.target(), c.target);
  }
}

TEST(ClientRequest, FailedLookupIsNotCachedAndLeavesNoStaleAddress) {
  ClientRequest req;
  ASSERT_EQ(req.SetHost("127.0.0.1"), 0);
  EXPECT_EQ(req.SetHost("no-such-host.invalid"), 2);
  EXPECT_EQ(req.address(), "");
  EXPECT_EQ(req.SetHost("no-such-host.invalid"), 2);  // tried again, not "cached"
  EXPECT_EQ(req.SetHost(std::string(256, 'a')), 1);
}

TEST(ClientRequest, PostFormSendsTheExactRequestAndReturnsTheBody) {
  ScriptedHttpServer server(ScriptedHttpServer::reply("result=0&clientid=12&\r\n"));
  ClientRequest req;
  std::vector<std::pair<int, long>> calls;
  ClientRequest::Progress cb = [&](int code, long value) {
    calls.emplace_back(code, value);
    return 1;
  };
  int code = -1;
  const std::string reply = req.PostForm(&cb, url(server.port()), "action=login&port=8323", code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(reply, "result=0&clientid=12&\r\n");
  EXPECT_EQ(server.lastRequest(),
            "POST /clientrequest?clientid=7 HTTP/1.0\r\n"
            "Connection: Keep-Alive\r\n"
            "Host: 127.0.0.1\r\n"
            "Content-type: application/x-www-form-urlencoded\r\n"
            "Content-length: 22\r\n"
            "\r\n"
            "action=login&port=8323\r\n\r\n");
  ASSERT_GE(calls.size(), 5u);
  EXPECT_EQ(calls[0].first, progress::kConnecting);
  EXPECT_EQ(calls[1].first, progress::kSending);
  EXPECT_EQ(calls[2].first, progress::kReadingLine);
  EXPECT_EQ(calls[calls.size() - 2], (std::pair<int, long>{progress::kBodyPiece, 23}));
  EXPECT_EQ(calls.back(), (std::pair<int, long>{progress::kDone, 23}));
}

TEST(ClientRequest, PostEncryptedSendsBase64OfTheCipherText) {
  ScriptedHttpServer server(ScriptedHttpServer::reply("result=0&"));
  ClientRequest req;
  const ClientRequest::Cipher reverse = [](std::string_view plain) { return std::string(plain.rbegin(), plain.rend()); };
  int code = -1;
  EXPECT_EQ(req.PostEncrypted(nullptr, url(server.port()), "action=ping", code, reverse), "result=0&");
  EXPECT_EQ(code, 0);
  const std::string encoded = base64Encode(std::string_view("gnip=noitca"));
  EXPECT_EQ(server.lastRequest(),
            "POST /clientrequest?clientid=7 HTTP/1.0\r\nConnection: Keep-Alive\r\nHost: 127.0.0.1\r\n"
            "Content-type: application/x-www-form-urlencoded\r\nContent-length: " +
                std::to_string(8 + encoded.size()) + "\r\n\r\ncrypted=" + encoded + "\r\n\r\n");

  EXPECT_EQ(req.PostEncrypted(nullptr, url(server.port()), "", code, reverse), "result=0&");
  EXPECT_EQ(server.lastRequest(),
            "POST /clientrequest?clientid=7 HTTP/1.0\r\nConnection: Keep-Alive\r\nHost: 127.0.0.1\r\n"
            "Content-length: 0\r\n\r\n");
}

TEST(ClientRequest, BodyEndsWhenTheServerPauses) {
  ScriptedHttpServer server([](int fd, const std::string&) {
    sendText(fd, "HTTP/1.0 200 OK\r\n\r\nfirst=1&\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    sendText(fd, "second=2&\r\n");
  });
  ClientRequest req;
  int code = -1;
  EXPECT_EQ(req.PostForm(nullptr, url(server.port()), "x=1", code), "first=1&\r\n");
  EXPECT_EQ(code, 0);
}

TEST(ClientRequest, TransportFailuresGiveTheirCodes) {
  ScriptedHttpServer silent([](int, const std::string&) {});
  struct Case { const char* name; std::string url; int want; };
  const Case cases[] = {
      {"no host", "http:///clientrequest", transport::kBadUrl},
      {"nothing listening", url(closedPort()), transport::kCannotConnect},
      {"closed without a reply", url(silent.port()), transport::kNoReply},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClientRequest req;
    int code = -1;
    EXPECT_EQ(req.PostForm(nullptr, c.url, "a=1", code), "");
    EXPECT_EQ(code, c.want);
  }
}

// A client that stands in for another computer leaves from the address it is
// given; one this computer does not have fails as a connect does.
TEST(ClientRequest, ConnectsFromTheSourceAddressWhenOneIsSet) {
  ScriptedHttpServer server([](int fd, const std::string&) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length);
    sendText(fd, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + peerAddressText(peer).value_or("?"));
  });
  struct Case {
    const char* source;
    int code;
    const char* seen;
  };
  const Case cases[] = {
      {"", get::kOk, "127.0.0.1"},
      {"127.0.0.2", get::kOk, "127.0.0.2"},
      {"192.0.2.1", get::kConnectFailed, ""},  // a documentation address: not ours
      {"not an address", get::kConnectFailed, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    ClientRequest req;
    req.setSourceAddress(c.source);
    EXPECT_EQ(req.GetText(url(server.port(), "\\peer.txt")), c.code);
    EXPECT_EQ(req.bodyLines(), c.code == get::kOk ? std::vector<std::string>{c.seen} : std::vector<std::string>{});
    EXPECT_EQ(req.localAddress(), c.seen);
  }
  ClientRequest post;
  post.setSourceAddress("192.0.2.1");
  int code = -1;
  post.PostForm(nullptr, url(server.port()), "a=1", code);
  EXPECT_EQ(code, transport::kCannotConnect);
}

TEST(ClientRequest, LoginAbortFlagEndsTheWaitAndIsCleared) {
  std::atomic<bool> release{false};
  ScriptedHttpServer server([&](int, const std::string&) { testing::waitFor([&] { return release.load(); }); });
  std::atomic<int> abort{1};
  ClientRequest req(&abort);
  int code = -1;
  EXPECT_EQ(req.PostForm(nullptr, url(server.port()), "a=1", code), "");
  EXPECT_EQ(code, transport::kAborted);
  EXPECT_EQ(abort.load(), 0);
  release = true;
}

TEST(ClientRequest, CallbackStopKeepsWhatWasRead) {
  ScriptedHttpServer server(ScriptedHttpServer::reply("a=1&\r\nb=2&\r\n"));
  ClientRequest req;
  ClientRequest::Progress stopAfterFirst = [](int code, long) { return code == progress::kBodyPiece ? 0 : 1; };
  int code = -1;
  EXPECT_EQ(req.PostForm(&stopAfterFirst, url(server.port()), "a=1", code), "a=1&\r\n");
  EXPECT_EQ(code, 0);
}

TEST(ClientRequest, EndlessReplyIsCutAtTheLimit) {
  ScriptedHttpServer server([](int fd, const std::string&) {
    sendText(fd, "HTTP/1.0 200 OK\r\n\r\n");
    const std::string chunk(64 * 1024, 'z');
    for (std::size_t sent = 0; sent < ClientRequest::kMaxReplyBytes + (1 << 20); sent += chunk.size()) {
      if (!sendInPieces(fd, chunk)) return;
    }
  });
  ClientRequest req;
  int code = -1;
  const std::string reply = req.PostForm(nullptr, url(server.port()), "a=1", code);
  EXPECT_EQ(code, 0);
  EXPECT_LE(reply.size(), ClientRequest::kMaxReplyBytes);
  EXPECT_GT(reply.size(), ClientRequest::kMaxReplyBytes / 2);
}

TEST(ClientRequest, GetTextReadsTextPagesOnly) {
  ScriptedHttpServer server(ScriptedHttpServer::reply("line1&server=h&\r\nline2\r\n",
                                                      "HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=x\r\n\r\n"));
  ClientRequest req;
  req.AddHeader("X-Extra: 1");
  ASSERT_EQ(req.GetText(url(server.port(), "/server.html")), get::kOk);
  EXPECT_EQ(server.lastRequest(), "GET /server.html HTTP/1.0\r\nX-Extra: 1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(req.StatusCode(), 200);
  EXPECT_EQ(req.bodyLines(), (std::vector<std::string>{"line1&server=h&\r\n", "line2\r\n"}));

  server.setHandler(ScriptedHttpServer::reply("x", "HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\n\r\n"));
  ClientRequest other;
  EXPECT_EQ(other.GetText(url(server.port(), "server.html")), get::kWrongTypeOrWrite);
  EXPECT_EQ(other.GetText(url(closedPort(), "/x")), get::kConnectFailed);
  EXPECT_EQ(other.GetText("http:///x"), get::kBadUrlOrStatus);
}

class FakeDownload : public DownloadTarget {
 public:
  bool resume() const override { return m_resume; }
  long resumeOffset() const override { return m_offset; }
  long expectedSize() const override { return 10; }
  void setResumeOffset(long offset) override { m_offset = offset; }
  void setLength(long length) override { m_length = length; }
  void setRate(long) override {}
  void peerError(const std::string& line) override { m_error = line; }
  bool progress(long bytes) override {
    m_progress = bytes;
    m_reports.push_back(bytes);
    return m_stopAt == 0 || bytes < m_stopAt;
  }
  bool m_resume = false;
  long m_offset = 0;
  long m_length = -1;
  long m_progress = 0;
  long m_stopAt = 0;  // the first report at or past it answers "stop"
  std::vector<long> m_reports;
  std::string m_error;
};

// Bytes that show any piece written twice, dropped or out of place.
std::string pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 4093) % 251);
  return s;
}

// A 206 or 200 reply whose body comes in two parts with a pause between them.
ScriptedHttpServer::Handler bodyInTwoParts(std::string headers, std::string body) {
  return [headers = std::move(headers), body = std::move(body)](int fd, const std::string&) {
    const std::size_t half = body.size() / 2;
    if (!sendInPieces(fd, headers) || !sendInPieces(fd, std::string_view(body).substr(0, half))) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sendInPieces(fd, std::string_view(body).substr(half));
  };
}

TEST(ClientRequest, GetFileWritesOrAppendsByStatus) {
  vantrel::testing::TempFolder dir;
  const auto file = dir.path() / "f.bin";
  ScriptedHttpServer server(ScriptedHttpServer::reply("0123456789", "HTTP/1.0 200 OK\r\nContent-length: 10\r\n\r\n"));
  FakeDownload dl;
  ClientRequest req(nullptr, 201);
  ASSERT_EQ(req.GetFile(url(server.port(), "/getfile?fileid=3"), file, dl), get::kOk);
  EXPECT_EQ(server.lastRequest(),
            "GET /getfile?fileid=3 HTTP/1.0\r\nHost: 127.0.0.1\r\nUser-Agent: Vantrel Client/201/windows\r\n\r\n");
  EXPECT_EQ(readFile(file), "0123456789");
  EXPECT_EQ(dl.m_length, 10);
  EXPECT_EQ(dl.m_progress, 10);

  server.setHandler(ScriptedHttpServer::reply("89", "HTTP/1.0 206 OK\r\nContent-range: bytes 8-9/10\r\n\r\n"));
  FakeDownload resumed;
  resumed.m_resume = true;
  resumed.m_offset = 8;
  std::filesystem::resize_file(file, 8);
  ClientRequest again;
  ASSERT_EQ(again.GetFile(url(server.port(), "/getfile?fileid=3"), file, resumed), get::kOk);
  EXPECT_NE(server.lastRequest().find("Range: bytes=8-10\r\n"), std::string::npos);
  EXPECT_EQ(readFile(file), "0123456789");
  EXPECT_EQ(resumed.m_progress, 10);

  // Resuming a file that is already whole: the file manager's 416 for a range
  // at the end completes it; a 416 for any other size is still a failure.
  for (const auto& [size, want] : {std::pair{10, get::kOk}, std::pair{12, get::kBadUrlOrStatus}}) {
    server.setHandler(ScriptedHttpServer::reply(
        "", "HTTP/1.0 416 OK\r\nContent-Range: bytes */" + std::to_string(size) + "\r\n\r\n"));
    FakeDownload whole;
    whole.m_resume = true;
    whole.m_offset = 10;
    ClientRequest third;
    EXPECT_EQ(third.GetFile(url(server.port(), "/getfile?fileid=3"), file, whole), want) << size;
    EXPECT_EQ(readFile(file), "0123456789");
    if (want == get::kOk) {
      EXPECT_EQ(whole.m_progress, 10);
    }
  }
}

TEST(ClientRequest, GetFileStoresALargeBodyExactlyAndReportsEveryPiece) {
  vantrel::testing::TempFolder dir;
  const std::string body = pattern(5 * 1024 * 1024 + 17);
  const std::string before = pattern(3000);
  struct Case { const char* name; std::string headers; long offset; std::string want; };
  const Case cases[] = {
      // A longer file from an earlier try must not leave its tail behind.
      {"whole file over an old one", "HTTP/1.0 200 OK\r\nContent-length: " + std::to_string(body.size()) + "\r\n\r\n",
       0, body},
      {"range after the bytes present",
       "HTTP/1.0 206 OK\r\nContent-range: bytes 3000-" + std::to_string(3000 + body.size()) + "/" +
           std::to_string(3000 + body.size()) + "\r\n\r\n",
       3000, before + body},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file = dir.path() / "big.bin";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << (c.offset == 0 ? body + body : before);
    ScriptedHttpServer server(bodyInTwoParts(c.headers, body));
    FakeDownload dl;
    dl.m_resume = c.offset > 0;
    dl.m_offset = c.offset;
    ClientRequest req;
    ASSERT_EQ(req.GetFile(url(server.port(), "/getfile?fileid=3"), file, dl), get::kOk);
    EXPECT_TRUE(readFile(file) == c.want) << "the file differs from what was sent";
    ASSERT_GE(dl.m_reports.size(), 2u);  // the pause splits the body
    EXPECT_TRUE(std::is_sorted(dl.m_reports.begin(), dl.m_reports.end()));
    EXPECT_GT(dl.m_reports.front(), c.offset);
    EXPECT_EQ(dl.m_reports.back(), static_cast<long>(c.want.size()));
  }
}

TEST(ClientRequest, GetFileStopAnswerEndsWithTheReportedBytesOnDisk) {
  vantrel::testing::TempFolder dir;
  const std::string body = pattern(4 * 1024 * 1024);
  ScriptedHttpServer server(
      bodyInTwoParts("HTTP/1.0 200 OK\r\nContent-length: " + std::to_string(body.size()) + "\r\n\r\n", body));
  FakeDownload dl;
  dl.m_stopAt = 1;
  ClientRequest req;
  EXPECT_EQ(req.GetFile(url(server.port(), "/getfile"), dir.path() / "f", dl), get::kNoLength + get::kStopped);
  ASSERT_EQ(dl.m_reports.size(), 1u);
  EXPECT_EQ(readFile(dir.path() / "f"), body.substr(0, static_cast<std::size_t>(dl.m_progress)));
}

TEST(ClientRequest, GetFileFailures) {
  vantrel::testing::TempFolder dir;
  const std::string ok = "HTTP/1.0 200 OK\r\nContent-length: 3\r\n\r\nabc";
  struct Case { const char* name; std::string reply; std::filesystem::path path; int want; };
  const Case cases[] = {
      {"peer reports an error", "client=1&error=25&errorMessage=File not shared\r\n", dir.path() / "f",
       get::kPeerErrorOrNoLength},
      {"status not 200 or 206", "HTTP/1.0 404 OK\r\nContent-length: 1\r\n\r\nx", dir.path() / "f", get::kBadUrlOrStatus},
      {"no length", "HTTP/1.0 200 OK\r\n\r\nabc", dir.path() / "f", get::kNoLength},
      {"file cannot be made", ok, dir.path() / "missing" / "f", get::kNoLength + 1},
      {"disk full", ok, "/dev/full", get::kNoLength + get::kWrongTypeOrWrite},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedHttpServer server([&](int fd, const std::string&) { sendText(fd, c.reply); });
    FakeDownload dl;
    ClientRequest req;
    EXPECT_EQ(req.GetFile(url(server.port(), "/getfile"), c.path, dl), c.want);
    if (c.want == get::kPeerErrorOrNoLength) {
      EXPECT_EQ(dl.m_error, "client=1&error=25&errorMessage=File not shared");
    }
  }
}

TEST(ClientRequest, GetUpdateFileNeedsTheWholeAnnouncedLength) {
  vantrel::testing::TempFolder dir;
  struct Case { const char* name; std::string reply; int stopAt; int want; };
  const Case cases[] = {
      {"complete", "HTTP/1.0 200 OK\r\nContent-length: 5\r\n\r\nhello", 0, get::kOk},
      {"no length header", "HTTP/1.0 200 OK\r\n\r\nhello", 0, get::kPeerErrorOrNoLength},
      {"error page", "HTTP/1.0 404 Not Found\r\nContent-length: 5\r\n\r\noops!", 0, get::kBadUrlOrStatus},
      {"cut short", "HTTP/1.0 200 OK\r\nContent-length: 9\r\n\r\nhello", 0, 9},
      {"stopped by progress", "HTTP/1.0 200 OK\r\nContent-length: 5\r\n\r\nhello", 1, 11},
      {"disk full", "HTTP/1.0 200 OK\r\nContent-length: 5\r\n\r\nhello", 0, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedHttpServer server([&](int fd, const std::string&) { sendText(fd, c.reply); });
    ClientRequest req;
    long announced = -1;
    req.setProgress([&](int, long total) { return c.stopAt != 0 && total >= c.stopAt ? 0 : 1; });
    const std::filesystem::path into = c.want == 10 ? "/dev/full" : dir.path() / "v.exe";
    EXPECT_EQ(req.GetUpdateFile(url(server.port(), "/v.exe"), into, [&](long n) { announced = n; }), c.want);
    if (c.want == get::kOk) {
      EXPECT_EQ(announced, 5);
      EXPECT_EQ(readFile(dir.path() / "v.exe"), "hello");
    }
  }
}

TEST(ClientRequest, ContentLengthFallsBackToContentRange) {
  ScriptedHttpServer server(ScriptedHttpServer::reply("", "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\ncontent-RANGE: bytes 0-1/77\r\n\r\n"));
  ClientRequest req;
  ASSERT_EQ(req.GetText(url(server.port(), "/x")), get::kOk);
  EXPECT_EQ(req.ContentLength(), 77);
}

}  // namespace
}  // namespace vantrel
