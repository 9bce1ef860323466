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

namespace vantrel {
namespace {

using protocol_testing::ProtocolFixture;
using testing::ScriptedHttpServer;
using namespace std::chrono_literals;

template <class Pred>
bool waitFor(Pred pred, std::chrono::milliseconds limit = 5000ms) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

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
  EXPECT_EQ(downloadStateText(*manager.find(id)), "Error 16");
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

  slow = false;
  prompts.answer = FileExistsChoice::Resume;
  ASSERT_TRUE(manager.start(id));
  ASSERT_TRUE(ends(id, DownloadState::Completed));
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
    const auto before = std::filesystem::file_size(local("part.bin"));
    std::this_thread::sleep_for(100ms);
    return std::filesystem::file_size(local("part.bin")) == before;
  }));
  EXPECT_GT(std::filesystem::file_size(local("part.bin")), 0u);
  EXPECT_LT(std::filesystem::file_size(local("part.bin")), 2000000u);
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
