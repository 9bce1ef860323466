// SPDX-License-Identifier: MIT
// Real download clients against the file server on loopback: curl whole, by
// range and resumed, wget resuming, and the client's own download manager
// resuming past 2 GiB, compared byte for byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "fileserver/file_server.h"
#include "fileserver/testing_fakes.h"
#include "net/test_sockets.h"
#include "platform/registry_hive.h"
#include "settings/settings_store.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wait_for.h"
#include "transfers/download_manager.h"

extern char** environ;

namespace vantrel {
namespace {

using vantrel::testing::readWholeFile;

std::string pattern(std::size_t size) {
  std::string s(size, '\0');
  uint32_t x = 12345;
  for (auto& c : s) {
    x = x * 1103515245 + 12345;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

// Runs a program to its end (at most 60 s) and returns its exit status.
int run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > until) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -2;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
}

class FileServerClients : public ::testing::Test {
 protected:
  void SetUp() override {
    content = pattern(3 * 1024 * 1024 + 17);
    std::ofstream(dir.file("movie.avi"), std::ios::binary) << content;
    share(dir.file("movie.avi"), "movie.avi", 501);
    ASSERT_EQ(server.listen(0), kListenOk);
    ASSERT_EQ(server.start(), 0);
  }

  void share(const std::string& path, const std::string& name, int32_t id) {
    CVantreldFile record(path);
    record.fileName = name;
    record.fileId = id;
    record.groupId = 3;
    ASSERT_TRUE(files.Add(record));
  }

  std::string url(int32_t id) const {
    return "http://127.0.0.1:" + std::to_string(server.port()) + "/getfile/?fileid=" + std::to_string(id);
  }

  vantrel::testing::TempFolder dir;
  std::string content;
  SharedFileList files{dir.file("user.dat")};
  testing::FakeHost host;
  testing::FakeRenderer renderer;
  FileServer server{host, renderer, files, nullptr, nullptr};
};

TEST_F(FileServerClients, CurlDownloadsWholeAndByRange) {
  const std::string out = dir.file("out");
  struct Case {
    const char* range;  // nullptr: whole file
    std::size_t first, length;
  };
  const std::size_t size = content.size();
  const Case cases[] = {
      {nullptr, 0, size},
      {"0-99", 0, 100},
      {"1000-1999", 1000, 1000},
      {"3000000-", 3000000, size - 3000000},
      {"-500", size - 500, 500},
      {"0-99999999", 0, size},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.range ? c.range : "whole");
    std::vector<std::string> args{"curl", "-sS", "--fail", "-o", out};
    if (c.range) {
      args.push_back("-r");
      args.push_back(c.range);
    }
    args.push_back(url(501));
    ASSERT_EQ(run(args), 0);
    EXPECT_TRUE(readWholeFile(out) == content.substr(c.first, c.length));
  }
}

TEST_F(FileServerClients, CurlAndWgetResumeAPartialDownload) {
  for (const char* tool : {"curl", "wget"}) {
    SCOPED_TRACE(tool);
    const std::string out = dir.file(std::string("partial-") + tool);
    std::ofstream(out, std::ios::binary) << content.substr(0, 1234567);
    const int rc = std::string(tool) == "curl" ? run({"curl", "-sS", "--fail", "-C", "-", "-o", out, url(501)})
                                                : run({"wget", "-q", "-c", "-O", out, url(501)});
    ASSERT_EQ(rc, 0);
    EXPECT_TRUE(readWholeFile(out) == content);
  }
  // Resuming a file that is already complete asks for nothing past the end.
  const std::string done = dir.file("complete");
  std::ofstream(done, std::ios::binary) << content;
  EXPECT_EQ(run({"curl", "-sS", "-C", "-", "-o", done, url(501)}), 0);
  EXPECT_TRUE(readWholeFile(done) == content);
}

TEST_F(FileServerClients, FilesPastFourGigabytesAreServedByRange) {
  // A sparse file: only the bytes that are read back take room on disk.
  const std::string path = dir.file("huge.bin");
  {
    std::ofstream(path, std::ios::binary);
  }
  ASSERT_EQ(::truncate(path.c_str(), 5LL << 30), 0);
  const long long at = (4LL << 30) + 12345;
  {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(at);
    f << "far-out bytes";
  }
  share(path, "huge.bin", 502);
  const std::string out = dir.file("huge-part");
  ASSERT_EQ(run({"curl", "-sS", "--fail", "-r", std::to_string(at) + "-" + std::to_string(at + 12), "-o", out,
                 url(502)}),
            0);
  EXPECT_EQ(readWholeFile(out), "far-out bytes");
  const std::string headers = dir.file("huge-headers");
  ASSERT_EQ(run({"curl", "-sS", "-D", headers, "-o", "/dev/null", "-r", std::to_string((5LL << 30) - 10) + "-",
                 url(502)}),
            0);
  const std::string h = readWholeFile(headers);
  EXPECT_NE(h.find("Content-Range: bytes 5368709110-5368709119/5368709120"), std::string::npos) << h;
  EXPECT_NE(h.find("Content-length: 10\r\n"), std::string::npos) << h;
}

// Answers every "File Already Exists" with Resume.
class ResumePrompts : public DownloadPrompts {
 public:
  FileExistsChoice fileExists(const FileExistsPrompt&) override { return FileExistsChoice::Resume; }
  std::optional<std::string> chooseFolder() override { return std::nullopt; }
};

TEST_F(FileServerClients, DownloadManagerResumesAPartialFilePastTwoGigabytes) {
  // Shared: 3 GiB of zeros (sparse) and a tail of real bytes; the partial
  // download holds the zeros. Only the tail may travel, appended at 3 GiB.
  const int64_t partialSize = 3LL << 30;
  const std::string tail = pattern(100000);
  const std::string shared = dir.file("big & #1+é.bin");
  {
    std::ofstream(shared, std::ios::binary);
  }
  ASSERT_EQ(::truncate(shared.c_str(), partialSize), 0);
  {
    std::fstream f(shared, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(partialSize);
    f << tail;
  }
  share(shared, "big & #1+é.bin", 503);
  const std::string partial = dir.file("partial.bin");
  {
    std::ofstream(partial, std::ios::binary);
  }
  ASSERT_EQ(::truncate(partial.c_str(), partialSize), 0);

  RegistryHive hive(dir.path().string());
  SettingsStore settings(hive);
  ResumePrompts prompts;
  DownloadManager manager(settings, prompts);
  const int64_t total = partialSize + static_cast<int64_t>(tail.size());
  const int32_t id = manager.QueueDownload(url(503), partial, total);
  ASSERT_TRUE(vantrel::testing::waitFor([&] { return manager.find(id)->state != DownloadState::Downloading; },
                                    std::chrono::seconds(30)));
  const DownloadInfo info = *manager.find(id);
  EXPECT_EQ(downloadStateText(info), "Completed");
  EXPECT_EQ(info.resumeAt, partialSize);
  EXPECT_EQ(info.bytesPresent, total);
  EXPECT_EQ(info.received, INT32_MAX);  // the 32-bit count stays capped
  EXPECT_EQ(downloadProgressText(info), "3221325 k / 3221325 k");
  EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(partial)), total);
  std::ifstream in(partial, std::ios::binary);
  in.seekg(partialSize - 1);
  std::string got(tail.size() + 1, '\0');
  in.read(got.data(), static_cast<std::streamsize>(got.size()));
  EXPECT_TRUE(got == std::string(1, '\0') + tail);
}

int threadCount() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  }
  return -1;
}

TEST_F(FileServerClients, AThousandConnectionsAtOnceAreServedOrRefusedWithError3) {
  const int before = threadCount();
  std::vector<UniqueFd> clients;
  for (int i = 0; i < 1000; ++i) {
    clients.push_back(testing::connectLoopback(server.port()));
    ASSERT_TRUE(clients.back());
  }
  int peak = 0;
  for (int i = 0; i < 20; ++i) {
    peak = std::max(peak, threadCount() - before);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // The limit, the refusal threads and little else.
  EXPECT_LE(peak, 200 + 64 + 4);
  for (auto& c : clients) testing::sendAll(c.get(), "GET /getfile/?fileid=501 HTTP/1.0\r\nRange: bytes=0-9\r\n\r\n");
  int served = 0, refused = 0;
  for (auto& c : clients) {
    const std::string reply = testing::readAll(c.get(), std::chrono::seconds(10));
    if (reply.find("HTTP/1.0 206 OK\r\n") == 0 && reply.substr(reply.size() - 10) == content.substr(0, 10)) ++served;
    if (reply.find("page client-error_template.html code 3") != std::string::npos) ++refused;
  }
  EXPECT_EQ(served + refused, 1000);
  EXPECT_GE(served, 1);
  // Still answering afterwards.
  const std::string out = dir.file("after");
  EXPECT_EQ(run({"curl", "-sS", "--fail", "-r", "0-9", "-o", out, url(501)}), 0);
  EXPECT_EQ(readWholeFile(out), content.substr(0, 10));
}

}  // namespace
}  // namespace vantrel
