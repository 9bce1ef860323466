// SPDX-License-Identifier: MIT
#include "fileserver/client_state_host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

#include "core/timer_service.h"
#include "fileserver/file_server.h"
#include "fileserver/testing_fakes.h"
#include "net/test_sockets.h"
#include "platform/registry_hive.h"
#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

// The file server over the real client state and settings.
class ClientStateHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.EnsureDefaults();
    state.Initialise();
    std::ofstream(dir.file("song.wav"), std::ios::binary) << std::string(5000, 's');
    CVantreldFile record(dir.file("song.wav"));
    record.fileName = "song.wav";
    record.fileId = 9;
    files.Add(record);
    ASSERT_EQ(server.listen(0), kListenOk);
    ASSERT_EQ(server.start(), 0);
  }

  std::string get(const std::string& url) {
    auto fd = testing::connectLoopback(server.port());
    testing::sendAll(fd.get(), "GET " + url + " HTTP/1.0\r\n\r\n");
    return testing::readAll(fd.get());
  }

  vantrel::testing::TempFolder dir;
  RegistryHive hive{dir.path().string()};
  SettingsStore settings{hive, "VantrelFileServerTest"};
  TimerService timers;
  ClientState state{settings, timers};
  std::atomic<int> comparisons{0};  // bumped on a connection thread
  ClientStateHost host{state, settings,
                       FileServerHooks{[this] { ++comparisons; }, {}, {}, {}, [] { return false; }, "central", nullptr}};
  SharedFileList files{dir.file("u.dat")};
  testing::FakeRenderer renderer;
  FileServer server{host, renderer, files, nullptr, nullptr};
};

TEST_F(ClientStateHostTest, DownloadsCountInTheClientState) {
  const int before = state.FilesSent();
  const std::string reply = get("/getfile/?fileid=9");
  EXPECT_EQ(reply.substr(0, 17), "HTTP/1.0 200 OK\r\n");
  EXPECT_EQ(reply.substr(reply.size() - 5000), std::string(5000, 's'));
  EXPECT_EQ(state.FilesSent(), before + 1);
  EXPECT_TRUE(testing::waitFor([&] { return state.SessionCount() == 0 && state.ActiveUploads() == 0; }));
  EXPECT_NE(get("/getfile/?fileid=10").find("page client-error_template.html code 25"), std::string::npos);
  EXPECT_EQ(comparisons, 1);
}

TEST_F(ClientStateHostTest, SharingSettingsComeFromTheStore) {
  settings.SetSettingNumber("remotes", 0);
  EXPECT_FALSE(host.remoteSharingAllowed());
  settings.SetSettingNumber("remotes", 1);
  settings.SetSettingNumber("firstTimeSharing", 1);
  EXPECT_TRUE(host.remoteSharingAllowed());
  EXPECT_TRUE(host.firstTimeSharing());
  host.clearFirstTimeSharing();
  EXPECT_EQ(settings.GetSettingNumber("firstTimeSharing"), 0);
  EXPECT_FALSE(host.fileSecurity());
  state.SetLocalAddress("10.0.0.5");
  state.SetExternalAddress("10.0.0.5");
  EXPECT_EQ(host.externalAddress(), std::nullopt);  // not different from the local one
  state.SetExternalAddress("80.1.1.1");
  EXPECT_EQ(host.externalAddress(), "80.1.1.1");
  // The host name's address, offered when the file server starts, does not
  // replace the one the login found from its connection to the server.
  host.setLocalAddress("127.0.1.1");
  EXPECT_EQ(state.LocalAddress(), "10.0.0.5");
}

}  // namespace
}  // namespace vantrel
