// SPDX-License-Identifier: MIT
#include "transfers/download_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "net/scripted_http_server.h"
#include "net/socket_io.h"
#include "protocol/catalogue_cache.h"
#include "protocol/testing/protocol_fixture.h"
#include "tests/support/wait_for.h"
#include "transfers/download_list.h"

namespace vantrel {
namespace {

using protocol_testing::ProtocolFixture;
using testing::ScriptedHttpServer;
using namespace std::chrono_literals;

using vantrel::testing::waitFor;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string content(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7) % 26);
  return s;
}

// Serves `body`, honouring "Range: bytes=A-" as a file server does.
ScriptedHttpServer::Handler serveBody(std::string body) {
  return [body = std::move(body)](int fd, const std::string& request) {
    std::size_t from = 0;
    if (const auto at = request.find("Range: bytes="); at != std::string::npos) {
      from = std::stoul(request.substr(at + 13));
    }
    const std::string rest = body.substr(std::min(from, body.size()));
    sendText(fd, std::string(from == 0 ? "HTTP/1.0 200 OK\r\n" : "HTTP/1.0 206 OK\r\n") +
                     "Content-Length: " + std::to_string(rest.size()) + "\r\n\r\n" + rest);
  };
}

class ScriptedPrompts : public DownloadPrompts {
 public:
  FileExistsChoice fileExists(const FileExistsPrompt& prompt) override {
    asked.push_back(prompt.fileName);
    return answer;
  }
  std::optional<std::string> chooseFolder() override { return folder; }

  FileExistsChoice answer = FileExistsChoice::CancelTransfer;
  std::optional<std::string> folder;
  std::vector<std::string> asked;
};

class DownloadManagerTest : public ::testing::Test, public ProtocolFixture {
 protected:
  std::string local(const std::string& name) const { return dir.path().string() + "/" + name; }
  std::string url(uint16_t port, const std::string& name = "getfile?fileid=1") const {
    return "http://127.0.0.1:" + std::to_string(port) + "/" + name;
  }
  bool ends(int32_t id, DownloadState state) {
    return waitFor([&] { return manager.find(id)->state == state; });
  }

  ScriptedPrompts prompts;
  DownloadManager manager{settings, prompts, &timers};
};

TEST_F(DownloadManagerTest, FetchesTheWholeFileWithSpacesAsPlusIntoNewFolders) {
  const std::string body = content(300000);
  ScriptedHttpServer server(serveBody(body));
  const int32_t id = manager.QueueDownload(url(server.port(), "my file.mp3"), local("a/b/my file.mp3"), 300000);
  ASSERT_TRUE(ends(id, DownloadState::Completed));
  EXPECT_EQ(readFile(local("a/b/my file.mp3")), body);
  const auto info = *manager.find(id);
  EXPECT_EQ(info.received, 300000);
  EXPECT_EQ(info.fileName, "my file.mp3");
  EXPECT_EQ(downloadStateText(info), "Completed");
  EXPECT_EQ(downloadProgressText(info), "300 k / 300 k");
  EXPECT_NE(server.lastRequest().find("GET /my+file.mp3 HTTP/1.0\r\n"), std::string::npos);
  EXPECT_NE(server.lastRequest().find("User-Agent: Vantrel Client/201/windows\r\n"), std::string::npos);
  EXPECT_EQ(server.lastRequest().find("Range:"), std::string::npos);
}

TEST_F(DownloadManagerTest, ResumeAsksOnceAndRequestsTheRestOfTheFile) {
  const std::string body = content(1000000);
  writeFile(local("song.mp3"), body.substr(0, 400000));
  prompts.answer = FileExistsChoice::Resume;
  ScriptedHttpServer server(serveBody(body));
  const int32_t id = manager.QueueDownload(url(server.port()), local("song.mp3"), 1000000);
  ASSERT_TRUE(ends(id, DownloadState::Completed));
  EXPECT_EQ(prompts.asked, std::vector<std::string>{"song.mp3"});
  EXPECT_NE(server.lastRequest().find("Range: bytes=400000-1000000\r\n"), std::string::npos);
  EXPECT_EQ(readFile(local("song.mp3")), body);
  EXPECT_EQ(manager.find(id)->received, 1000000);
}

TEST_F(DownloadManagerTest, FileExistsChoices) {
  ScriptedHttpServer server(serveBody("new"));
  writeFile(local("x.txt"), "old content");

  prompts.answer = FileExistsChoice::CancelTransfer;
  int32_t id = manager.QueueDownload(url(server.port()), local("x.txt"), 3);
  ASSERT_TRUE(ends(id, DownloadState::Stopped));
  EXPECT_EQ(server.requestCount(), 0u);
  EXPECT_EQ(readFile(local("x.txt")), "old content");

  prompts.answer = FileExistsChoice::ChangeDestination;
  prompts.folder = local("elsewhere");
  id = manager.QueueDownload(url(server.port()), local("x.txt"), 3);
  ASSERT_TRUE(ends(id, DownloadState::Completed));
  EXPECT_EQ(readFile(local("elsewhere/x.txt")), "new");
  EXPECT_EQ(readFile(local("x.txt")), "old content");

  prompts.answer = FileExistsChoice::Overwrite;
  id = manager.QueueDownload(url(server.port()), local("x.txt"), 3);
  ASSERT_TRUE(ends(id, DownloadState::Completed));
  EXPECT_EQ(manager.find(id)->options, download_option::kOverwrite);
  EXPECT_EQ(readFile(local("x.txt")), "new");
}

TEST_F(DownloadManagerTest, PeerRefusalShowsThePeersText) {
  ScriptedHttpServer server(ScriptedHttpServer::reply("", "client=1&error=5&errorMessage=Max downloads per user\r\n"));
  const int32_t id = manager.QueueDownload(url(server.port()), local("r.bin"), 10);
  ASSERT_TRUE(ends(id, DownloadState::Refused));
  EXPECT_EQ(manager.find(id)->resultCode, 11);
  EXPECT_EQ(downloadStateText(*manager.find(id)), "Max downloads per user");
}

TEST_F(DownloadManagerTest, BodyShorterThanItsLengthIsAnErrorNotCompleted) {
  ScriptedHttpServer server(ScriptedHttpServer::reply("only half", "HTTP/1.0 200 OK\r\nContent-Length: 18\r\n\r\n"));
  const int32_t id = manager.QueueDownload(url(server.port()), local("short.bin"), 18);
  ASSERT_TRUE(ends(id, DownloadState::Error));
  EXPECT_EQ(manager.find(id)->resultCode, 16);
  EXPECT_EQ(manager.find(id)->reason, DownloadReason::ConnectionLost);
  EXPECT_EQ(downloadStateText(*manager.find(id)), "the connection was lost; retrying in 0:30");
  EXPECT_EQ(downloadCodeText(*manager.find(id)), "Error 16");
  // What came stays a partial file; nothing carries the real name.
  EXPECT_EQ(readFile(local("short.bin.part")), "only half");
  EXPECT_FALSE(std::filesystem::exists(local("short.bin")));
}

TEST_F(DownloadManagerTest, LimitQueuesTheThirdUntilATickAfterASlotFrees) {
  settings.SetSettingNumber("maxsimdl", 2);
  // Ticked by hand, so that the test decides when the tick comes.
  DownloadManager handTicked(settings, prompts);
  std::mutex gateMutex;
  std::condition_variable gateCv;
  bool open = false;
  // The test server answers one connection at a time: the first download
  // holds it until the gate opens, the second waits behind it.
  ScriptedHttpServer server([&](int fd, const std::string& request) {
    std::unique_lock lock(gateMutex);
    gateCv.wait_for(lock, 5s, [&] { return open; });
    lock.unlock();
    serveBody("data")(fd, request);
  });
  std::vector<int32_t> added;
  handTicked.registerListener([&](int32_t id, int event, const std::string&) {
    if (event == download_event::kAdded) added.push_back(id);
  });
  const int32_t a = handTicked.QueueDownload(url(server.port()), local("1"), 4);
  const int32_t b = handTicked.QueueDownload(url(server.port()), local("2"), 4);
  const int32_t c = handTicked.QueueDownload(url(server.port()), local("3"), 4);
  EXPECT_EQ(added, (std::vector<int32_t>{a, b, c}));
  EXPECT_EQ(handTicked.find(c)->state, DownloadState::Queued);
  handTicked.tick();
  EXPECT_EQ(handTicked.runningCount(), 2);
  EXPECT_EQ(handTicked.find(c)->state, DownloadState::Queued);

  {
    std::scoped_lock lock(gateMutex);
    open = true;
  }
  gateCv.notify_all();
  ASSERT_TRUE(waitFor([&] { return handTicked.find(a)->state == DownloadState::Completed; }));
  ASSERT_TRUE(waitFor([&] { return handTicked.find(b)->state == DownloadState::Completed; }));
  EXPECT_EQ(handTicked.find(c)->state, DownloadState::Queued);  // only a tick starts it
  handTicked.tick();
  ASSERT_TRUE(waitFor([&] { return handTicked.find(c)->state == DownloadState::Completed; }));
  EXPECT_EQ(settings.GetSettingNumber("maxsimdl"), 2);
}

TEST_F(DownloadManagerTest, AChangedLimitCountsFromTheNextTick) {
  settings.SetSettingNumber("maxsimdl", 1);
  DownloadManager handTicked(settings, prompts);
  std::atomic<bool> open{false};
  ScriptedHttpServer first([&](int fd, const std::string& request) {
    waitFor([&] { return open.load(); });
    serveBody("data")(fd, request);
  });
  ScriptedHttpServer second(serveBody("more"));
  const int32_t a = handTicked.QueueDownload(url(first.port()), local("a"), 4);
  const int32_t b = handTicked.QueueDownload(url(second.port()), local("b"), 4);
  handTicked.tick();
  EXPECT_EQ(handTicked.find(b)->state, DownloadState::Queued);
  settings.SetSettingNumber("maxsimdl", 2);  // the settings sheet, while the client runs
  handTicked.tick();
  ASSERT_TRUE(waitFor([&] { return handTicked.find(b)->state == DownloadState::Completed; }));
  EXPECT_EQ(handTicked.find(a)->state, DownloadState::Downloading);
  EXPECT_EQ(handTicked.runningCount(), 1);
  open = true;
  ASSERT_TRUE(waitFor([&] { return handTicked.find(a)->state == DownloadState::Completed; }));
  EXPECT_EQ(handTicked.runningCount(), 0);  // at once, not at the next tick
}

TEST_F(DownloadManagerTest, StopThenStartResumesWhereItStopped) {
  const std::string body = content(2000000);
  std::atomic<bool> slow{true};
  ScriptedHttpServer server([&](int fd, const std::string& request) {
    if (!slow) return serveBody(body)(fd, request);
    sendText(fd, "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n");
    // Dribbles pieces until the client hangs up (bounded).
    for (std::size_t at = 0; at < 500000 && sendText(fd, body.substr(at, 1000)) > 0; at += 1000) {
      std::this_thread::sleep_for(10ms);
    }
  });
  const int32_t id = manager.QueueDownload(url(server.port()), local("big.bin"), 2000000);
  ASSERT_TRUE(waitFor([&] { return manager.find(id)->received > 0; }));
  manager.stop(id);
  ASSERT_TRUE(ends(id, DownloadState::Stopped));
  EXPECT_EQ(manager.find(id)->resultCode, 18);
  const int32_t had = manager.find(id)->received;

  EXPECT_FALSE(std::filesystem::exists(local("big.bin")));
  EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(local("big.bin.part"))), had);

  // Its own partial file: taken up without "File Already Exists".
  slow = false;
  ASSERT_TRUE(manager.start(id));
  ASSERT_TRUE(ends(id, DownloadState::Completed));
  EXPECT_TRUE(prompts.asked.empty());
  EXPECT_FALSE(std::filesystem::exists(local("big.bin.part")));
  EXPECT_NE(server.lastRequest().find("Range: bytes=" + std::to_string(had) + "-2000000\r\n"), std::string::npos);
  EXPECT_TRUE(readFile(local("big.bin")) == body);
  EXPECT_EQ(manager.find(id)->received, 2000000);
}

TEST_F(DownloadManagerTest, RemoveStopsTheDownloadTakesTheRecordOffAndKeepsThePartialFile) {
  const std::string body = content(2000000);
  ScriptedHttpServer server([&](int fd, const std::string&) {
    sendText(fd, "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n");
    for (std::size_t at = 0; at < 500000 && sendText(fd, body.substr(at, 1000)) > 0; at += 1000) {
      std::this_thread::sleep_for(10ms);
    }
  });
  std::mutex eventsMutex;
  std::vector<std::pair<int32_t, int>> events;
  const int handle = manager.registerListener([&](int32_t id, int event, const std::string&) {
    std::scoped_lock lock(eventsMutex);
    if (event != download_event::kChanged) events.emplace_back(id, event);
  });
  const int32_t id = manager.QueueDownload(url(server.port()), local("part.bin"), 2000000);
  ASSERT_TRUE(waitFor([&] { return manager.find(id)->received > 0; }));
  EXPECT_TRUE(manager.remove(id));
  EXPECT_FALSE(manager.find(id).has_value());
  EXPECT_TRUE(manager.downloads().empty());
  EXPECT_FALSE(manager.remove(id));
  {
    std::scoped_lock lock(eventsMutex);
    EXPECT_EQ(events, (std::vector<std::pair<int32_t, int>>{{id, download_event::kAdded}, {id, download_event::kRemoved}}));
  }
  manager.unregisterListener(handle);
  manager.QueueDownload(url(server.port()), local("other.bin"), 1);
  {
    std::scoped_lock lock(eventsMutex);
    EXPECT_EQ(events.size(), 2u);  // no longer listening
  }
  // The partial file stays, and stops growing once the worker has seen the stop.
  ASSERT_TRUE(waitFor([&] {
    const auto before = std::filesystem::file_size(local("part.bin.part"));
    std::this_thread::sleep_for(100ms);
    return std::filesystem::file_size(local("part.bin.part")) == before;
  }));
  EXPECT_GT(std::filesystem::file_size(local("part.bin.part")), 0u);
  EXPECT_LT(std::filesystem::file_size(local("part.bin.part")), 2000000u);
  EXPECT_FALSE(std::filesystem::exists(local("part.bin")));
}

TEST_F(DownloadManagerTest, AStopThatComesAfterTheDownloadEndedDoesNotStopItsNextRun) {
  const std::string body = content(200000);
  ScriptedHttpServer server(serveBody(body));
  const int32_t id = manager.QueueDownload(url(server.port()), local("again.bin"), 200000);
  ASSERT_TRUE(ends(id, DownloadState::Completed));
  manager.stop(id);  // say, from a menu opened while it was still running

  prompts.answer = FileExistsChoice::Overwrite;
  ASSERT_TRUE(manager.start(id));
  ASSERT_TRUE(waitFor([&] {
    const DownloadState state = manager.find(id)->state;
    return state != DownloadState::Downloading;
  }));
  EXPECT_EQ(downloadStateText(*manager.find(id)), "Completed");
  EXPECT_TRUE(readFile(local("again.bin")) == body);
}

TEST_F(DownloadManagerTest, DirectoryDownloadsStayInsideTheDestination) {
  ScriptedHttpServer server(serveBody("x"));
  CatalogueCache cache;
  auto file = [&](const std::string& name) {
    auto f = std::make_shared<FileEntry>();
    f->name = name;
    f->url = url(server.port());
    f->size = 1;
    return f;
  };
  auto sub = std::make_shared<DirectoryEntry>();
  sub->id = 11;
  sub->name = "..";
  auto inner = std::make_shared<DirectoryEntry>();
  inner->id = 12;
  inner->name = "inner";
  auto top = std::make_shared<DirectoryEntry>();
  top->id = 10;
  cache.storeListing(ListingKind::Group, 1, {top});
  cache.storeListing(ListingKind::Directory, 10, {file("../../escape.txt"), file("a.txt"), sub, inner});
  cache.storeListing(ListingKind::Directory, 12, {file("b.txt")});
  const std::string dest = local("dl/");
  EXPECT_EQ(manager.DownloadDirectory(*top, dest, true, cache, ctx), 0);
  ASSERT_TRUE(waitFor([&] {
    for (const auto& d : manager.downloads()) {
      if (d.state != DownloadState::Completed) return false;
    }
    return true;
  }));
  std::vector<std::string> paths;
  for (const auto& d : manager.downloads()) paths.push_back(d.localPath);
  EXPECT_EQ(paths, (std::vector<std::string>{dest + ".._.._escape.txt", dest + "a.txt", dest + "inner/b.txt"}));
}

// A loopback port that nothing listens on.
uint16_t closedPort() {
  ScriptedHttpServer gone(serveBody(""));
  return gone.port();
}

ScriptedHttpServer::Handler refuse(int code, const std::string& title) {
  return ScriptedHttpServer::reply("", "client=1&error=" + std::to_string(code) + "&errorMessage=" + title);
}

TEST_F(DownloadManagerTest, EveryFailureSaysWhyAndOnlyPassingOnesAreTriedAgain) {
  ScriptedHttpServer busy(refuse(31, "Too many users currently downloading files"));
  ScriptedHttpServer perUser(refuse(52, "Max downloads per user"));
  ScriptedHttpServer gone(refuse(25, "File does not exist"));
  ScriptedHttpServer token(refuse(28, "Permission denied"));
  ScriptedHttpServer small(serveBody("abc"));
  const uint16_t closed = closedPort();
  const struct {
    const char* name;
    std::string url;
    DownloadSource source;
    DownloadState state;
    DownloadReason reason;
    const char* status;
  } cases[] = {
      {"nobody listens", url(closed), {}, DownloadState::Error, DownloadReason::SharerOffline,
       "the sharer is offline; retrying in 0:30"},
      {"limits full", url(busy.port()), {}, DownloadState::Refused, DownloadReason::SharerBusy,
       "the sharer is busy; retrying in 0:30"},
      {"per-user limit", url(perUser.port()), {}, DownloadState::Refused, DownloadReason::SharerBusy,
       "the sharer is busy; retrying in 0:30"},
      {"file gone", url(gone.port()), {}, DownloadState::Refused, DownloadReason::NoLongerShared,
       "the file is no longer shared"},
      {"token of a bare link", url(token.port()), {}, DownloadState::Refused, DownloadReason::None, "Permission denied"},
      {"no link, sharer online", "", {5, 9, true}, DownloadState::Error, DownloadReason::MembersOnly,
       "members only: join the group"},
      {"no link, sharer away", "", {5, 9, false}, DownloadState::Error, DownloadReason::SharerOffline,
       "the sharer is offline; retrying in 0:30"},
      {"not the listed size", url(small.port()), {}, DownloadState::Error, DownloadReason::SizeMismatch,
       "the file that came is not the size listed: start it again"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target = local("f" + std::to_string(++n) + ".bin");
    const int32_t id = manager.QueueDownload(c.url, target, 5, c.source);
    ASSERT_TRUE(ends(id, c.state));
    const DownloadInfo info = *manager.find(id);
    EXPECT_EQ(info.reason, c.reason);
    EXPECT_EQ(downloadStateText(info), c.status);
    EXPECT_EQ(info.retryInSeconds >= 0, reasonRetries(c.reason));
    EXPECT_FALSE(std::filesystem::exists(target));  // nothing under the real name
  }
  EXPECT_EQ(downloadCodeText(*manager.find(2)),
            "Error 11, refused by the sharer with error 31: Too many users currently downloading files");
}

TEST_F(DownloadManagerTest, WaitsGrowBetweenTriesAndASharerSeenOnlineIsTriedAtOnce) {
  DownloadManager handTicked(settings, prompts);
  handTicked.setRetryWaits(100ms, 250ms);
  const std::string body = content(1000);
  std::atomic<int> refusals{3};
  ScriptedHttpServer server([&](int fd, const std::string& request) {
    if (refusals-- > 0) return refuse(3, "Too many connections to this file manager")(fd, request);
    serveBody(body)(fd, request);
  });
  const int32_t id = handTicked.QueueDownload(url(server.port()), local("again.bin"), 1000);
  std::vector<int64_t> waits;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(waitFor([&] { return handTicked.find(id)->state == DownloadState::Refused; }));
    waits.push_back(handTicked.find(id)->retryWaitMs);
    ASSERT_TRUE(waitFor([&] {
      handTicked.tick();
      return handTicked.find(id)->state != DownloadState::Refused;
    }));
  }
  EXPECT_EQ(waits, (std::vector<int64_t>{100, 200, 250}));
  ASSERT_TRUE(waitFor([&] { return handTicked.find(id)->state == DownloadState::Completed; }));
  EXPECT_EQ(readFile(local("again.bin")), body);

  // A sharer who went away and came back at another address: the catalogue
  // gives a fresh link, and seeing them online ends the wait at once.
  handTicked.setRetryWaits(1h, 1h);
  ScriptedHttpServer back(serveBody(body));
  std::atomic<bool> online{false};
  handTicked.setLinkSource([&](int32_t fileId) {
    FileLink link;
    link.online = online;
    link.ownerId = 7;
    if (online) link.url = url(back.port(), "getfile?fileid=" + std::to_string(fileId));
    return link;
  });
  const int32_t later = handTicked.QueueDownload(url(closedPort()), local("later.bin"), 1000, {42, 7, true});
  ASSERT_TRUE(waitFor([&] { return handTicked.find(later)->state == DownloadState::Error; }));
  EXPECT_EQ(handTicked.find(later)->reason, DownloadReason::SharerOffline);
  EXPECT_EQ(downloadStateText(*handTicked.find(later)), "the sharer is offline; retrying in 1:00:00");
  handTicked.tick();
  EXPECT_EQ(handTicked.find(later)->state, DownloadState::Error);
  online = true;
  handTicked.sharerSeenOnline(8);  // someone else
  handTicked.tick();
  EXPECT_EQ(handTicked.find(later)->state, DownloadState::Error);
  handTicked.sharerSeenOnline(7);
  handTicked.tick();
  ASSERT_TRUE(waitFor([&] { return handTicked.find(later)->state == DownloadState::Completed; }));
  EXPECT_NE(back.lastRequest().find("GET /getfile?fileid=42 "), std::string::npos);
  EXPECT_EQ(readFile(local("later.bin")), body);

  // A file the catalogue no longer has is not tried at all.
  handTicked.setLinkSource([](int32_t) {
    FileLink link;
    link.code = FileLink::kNotFound;
    return link;
  });
  const int32_t dropped = handTicked.QueueDownload(url(back.port()), local("dropped.bin"), 1000, {43, 7, true});
  ASSERT_TRUE(waitFor([&] { return handTicked.find(dropped)->state == DownloadState::Error; }));
  EXPECT_EQ(downloadStateText(*handTicked.find(dropped)), "the file is no longer shared");
}

TEST_F(DownloadManagerTest, APartialFileFoundAtTheStartIsTakenUpWithoutAsking) {
  const std::string body = content(1000000);
  writeFile(local("song.mp3.part"), body.substr(0, 400000));
  prompts.answer = FileExistsChoice::Overwrite;  // must not be asked
  ScriptedHttpServer server(serveBody(body));
  const int32_t id = manager.QueueDownload(url(server.port()), local("song.mp3"), 1000000);
  ASSERT_TRUE(ends(id, DownloadState::Completed));
  EXPECT_TRUE(prompts.asked.empty());
  EXPECT_NE(server.lastRequest().find("Range: bytes=400000-1000000\r\n"), std::string::npos);
  EXPECT_TRUE(readFile(local("song.mp3")) == body);
  EXPECT_FALSE(std::filesystem::exists(local("song.mp3.part")));
}

TEST_F(DownloadManagerTest, TheListIsSavedAndTakenUpAgainByTheNextProcess) {
  const std::string body = content(2000000);
  std::atomic<bool> slow{true};
  ScriptedHttpServer server([&](int fd, const std::string& request) {
    if (!slow) return serveBody(body)(fd, request);
    sendText(fd, "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n");
    for (std::size_t at = 0; at < 500000 && sendText(fd, body.substr(at, 1000)) > 0; at += 1000) {
      std::this_thread::sleep_for(10ms);
    }
  });
  const std::string list = local("bobdownloads.dat");
  const std::string name = "Zoë & Co #1+.bin";
  int64_t had = 0;
  {
    DownloadManager first(settings, prompts);
    first.openList(list);
    const int32_t running = first.QueueDownload(url(server.port(), "getfile?fileid=1"), local(name), 2000000, {1, 2, true});
    // The test server serves one download at a time: the second has one of its own.
    ScriptedHttpServer other([&](int fd, const std::string&) {
      sendText(fd, "HTTP/1.0 200 OK\r\nContent-Length: 2000000\r\n\r\n");
      for (int i = 0; i < 500 && sendText(fd, std::string(1000, 'k')) > 0; ++i) std::this_thread::sleep_for(10ms);
    });
    const int32_t stopped = first.QueueDownload(url(other.port(), "getfile?fileid=2"), local("kept.bin"), 2000000);
    ASSERT_TRUE(waitFor([&] { return first.find(running)->bytesPresent > 0 && first.find(stopped)->bytesPresent > 0; }));
    first.stop(stopped);
    ASSERT_TRUE(waitFor([&] { return first.find(stopped)->state == DownloadState::Stopped; }));
    first.tick();
    std::vector<SavedDownload> saved;
    ASSERT_TRUE(decodeDownloadList(readFile(list), saved));
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0].state, DownloadState::Downloading);
    EXPECT_EQ(saved[0].fileId, 1);
    EXPECT_EQ(saved[0].localPath, local(name));
    EXPECT_EQ(saved[1].state, DownloadState::Stopped);
    had = first.find(running)->bytesPresent;
  }  // the program ends mid-download
  EXPECT_FALSE(std::filesystem::exists(local(name)));
  const int64_t partSize = static_cast<int64_t>(std::filesystem::file_size(local(name + ".part")));
  EXPECT_GE(partSize, had);

  slow = false;
  DownloadManager second(settings, prompts);
  second.openList(list);
  const std::vector<DownloadInfo> back = second.downloads();
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].state, DownloadState::Queued);
  EXPECT_EQ(back[0].catalogueFileId, 1);
  EXPECT_EQ(back[0].bytesPresent, partSize);
  EXPECT_EQ(back[1].state, DownloadState::Stopped);  // stays stopped
  second.tick();
  ASSERT_TRUE(waitFor([&] { return second.find(back[0].id)->state == DownloadState::Completed; }));
  EXPECT_TRUE(prompts.asked.empty());
  EXPECT_NE(server.lastRequest().find("Range: bytes=" + std::to_string(partSize) + "-2000000\r\n"), std::string::npos);
  EXPECT_TRUE(readFile(local(name)) == body);
  EXPECT_EQ(second.find(back[1].id)->state, DownloadState::Stopped);
  second.tick();
  std::vector<SavedDownload> saved;
  ASSERT_TRUE(decodeDownloadList(readFile(list), saved));
  EXPECT_EQ(saved[0].state, DownloadState::Completed);

  // "Remove and delete partial file" takes the stopped one's bytes away too.
  EXPECT_TRUE(second.remove(back[1].id, true));
  EXPECT_FALSE(std::filesystem::exists(local("kept.bin.part")));
  EXPECT_TRUE(std::filesystem::exists(local(name)));  // a finished file is never deleted by it
}

TEST(DownloadTextsTest, StateTextsAndPeerMessages) {
  const struct {
    int32_t state;
    int32_t code;
    const char* peer;
    const char* want;
  } states[] = {{0, 0, "", "queued"},  {1, 0, "", "Downloading"}, {2, 18, "", "Stopped"},
                {3, 0, "", "Completed"}, {4, 3, "", "Error 3"},   {5, 11, "", "Error"},
                {5, 11, "Busy", "Busy"}, {9, 0, "", "Unknown"}};
  for (const auto& c : states) EXPECT_EQ(downloadStateText(c.state, c.code, c.peer), c.want) << c.state;

  const std::pair<const char*, const char*> lines[] = {
      {"client=1&error=5&errorMessage=Max downloads per user", "Max downloads per user"},
      {"client=1&ERRORMESSAGE=x&error=5", "x"},
      {"client=1&error=5", ""},
      {"client=1&errormessage", ""},
  };
  for (const auto& [line, want] : lines) EXPECT_EQ(peerErrorMessage(line), want) << line;
}

}  // namespace
}  // namespace vantrel
