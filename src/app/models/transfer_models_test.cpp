// SPDX-License-Identifier: MIT
// The logic behind the transfer views: the texts of an upload row from a
// session's life, the limits the "Outgoing" options store, and the formats.

#include <gtest/gtest.h>

#include <fstream>

#include "app/models/downloads_model.h"
#include "app/models/rate_history_model.h"
#include "app/models/uploads_model.h"
#include "protocol/testing/protocol_fixture.h"

namespace vantrel {
namespace {

TEST(UploadRowTest, TextsFollowTheSessionFromConnectToStop) {
  UploadSession session(7);
  struct Case {
    const char* name;
    std::function<void()> step;
    int64_t fileSize;
    UploadRow want;
  };
  const Case cases[] = {
      {"just connected", [] {}, -1, {7, "None yet", "unknown (waiting)", "0%", "0 k/s", "Waiting", "unknown"}},
      {"request read",
       [&] {
         session.setPeerAddress("10.0.0.9");
         session.setUserName("Zoë & co");
         session.setRequest("Get File - a#b+c.mp3");
       },
       1000000, {7, "Get File - a#b+c.mp3", "Zoë & co (10.0.0.9)", "0%", "0 k/s", "Sending", "unknown"}},
      {"sending",
       [&] {
         session.bytesSent = 400000;
         session.percentage = 40;
         session.speed = 20000;
       },
       1000000, {7, "Get File - a#b+c.mp3", "Zoë & co (10.0.0.9)", "40%", "20 k/s", "Sending", "0:00:30"}},
      {"size unknown", [] {}, -1, {7, "Get File - a#b+c.mp3", "Zoë & co (10.0.0.9)", "40%", "20 k/s", "Sending", "unknown"}},
      {"all sent",
       [&] {
         session.bytesSent = 1000000;
         session.percentage = 100;
       },
       1000000, {7, "Get File - a#b+c.mp3", "Zoë & co (10.0.0.9)", "100%", "20 k/s", "Finished", "0:00:00"}},
      {"stopped", [&] { session.active = false; }, 1000000,
       {7, "Get File - a#b+c.mp3", "Zoë & co (10.0.0.9)", "100%", "20 k/s", "Stopped", "unknown"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.step();
    const UploadRow row = uploadRow(session, c.fileSize);
    EXPECT_EQ(row.sessionId, c.want.sessionId);
    EXPECT_EQ(row.name, c.want.name);
    EXPECT_EQ(row.user, c.want.user);
    EXPECT_EQ(row.progress, c.want.progress);
    EXPECT_EQ(row.speed, c.want.speed);
    EXPECT_EQ(row.status, c.want.status);
    EXPECT_EQ(row.timeLeft, c.want.timeLeft);
  }
}

TEST(UploadRowTest, RateAndTimeFormats) {
  EXPECT_EQ(rateText(0), "0.0 k/s");
  EXPECT_EQ(rateText(12345), "12.3 k/s");
  EXPECT_EQ(timeLeftText(-1), "unknown");
  EXPECT_EQ(timeLeftText(59), "0:00:59");
  EXPECT_EQ(timeLeftText(3 * 3600 + 62), "3:01:02");
}

class ClientUploadsTest : public ::testing::Test, public protocol_testing::ProtocolFixture {};

TEST_F(ClientUploadsTest, LimitsApplyAtOnceAndAreStoredNoUserAboveAll) {
  ClientUploads uploads(state, settings, [](int32_t) { return std::nullopt; });
  struct Case {
    UploadLimits asked, want;
  };
  const Case cases[] = {
      {{5, 3000, 8000}, {5, 3000, 8000}},
      {{0, 9000, 4000}, {1, 4000, 4000}},  // per user capped by the total; at least one user
      {{3, 0, 0}, {3, 1, 1}},
  };
  for (const Case& c : cases) {
    uploads.setLimits(c.asked);
    EXPECT_EQ(uploads.limits(), c.want);
    EXPECT_EQ(state.MaxUsers(), c.want.maxUsers);
    EXPECT_EQ(state.MaxUserBand(), c.want.maxUserBand);
    EXPECT_EQ(settings.GetSettingNumber("maxusers"), c.want.maxUsers);
    EXPECT_EQ(settings.GetSettingNumber("maxusrband"), c.want.maxUserBand);
    EXPECT_EQ(settings.GetSettingNumber("maxband"), c.want.maxBand);
  }
}

TEST_F(ClientUploadsTest, StopMarksTheSessionInactiveAndSizesComeFromTheFile) {
  const std::string path = dir.file("song.mp3");
  std::ofstream(path, std::ios::binary) << std::string(4321, 'x');
  ClientUploads uploads(state, settings, [&](int32_t id) -> std::optional<CVantreldFile> {
    if (id != 5) return std::nullopt;
    CVantreldFile file(path);
    file.fileSize = 1;  // stale: the file on disk counts
    return file;
  });
  auto session = state.NewUploadSession();
  session->fileId = 5;
  ASSERT_EQ(uploads.sessions().size(), 1u);
  EXPECT_EQ(uploads.fileSize(5), 4321);
  EXPECT_EQ(uploads.fileSize(6), -1);
  uploads.stopSession(session->sessionId());
  EXPECT_FALSE(session->active);
  EXPECT_EQ(uploadRows(uploads).front().status, "Stopped");
}

TEST(DownloadRowTest, TextsTogglesAndNotices) {
  DownloadInfo info;
  info.id = 4;
  info.fileName = "Zoë & Co #1+.mp3";
  info.fileSize = 3'500'000'000;  // past 2 GiB: the texts use the real sizes
  info.bytesPresent = 2'600'000'000;
  info.rate = 1'234'567;
  struct Case {
    DownloadState state;
    const char* status;
    const char* toggle;
    const char* menu;
  };
  const Case cases[] = {
      {DownloadState::Queued, "queued: 2 of 2 downloads running", "Start transfer", "Start transfer"},
      {DownloadState::Downloading, "Downloading", "Stop transfer", "Stop transfer"},
      {DownloadState::Stopped, "Stopped", "Start transfer", "Start transfer"},
      {DownloadState::Completed, "Completed", "Start transfer", "Start Transfer"},
      {DownloadState::Error, "Error 0", "Start transfer", "Start transfer"},
      {DownloadState::Refused, "Error", "Start transfer", "Start transfer"},
  };
  for (const Case& c : cases) {
    info.state = c.state;
    const DownloadRow row = downloadRow(info, 2, 2);
    EXPECT_EQ(row.name, "Zoë & Co #1+.mp3");
    EXPECT_EQ(row.progress, "2600000 k / 3500000 k");
    EXPECT_EQ(row.speed, "1234 k/s");
    EXPECT_EQ(row.status, c.status);
    EXPECT_EQ(toggleText(c.state), c.toggle);
    EXPECT_EQ(menuToggleText(c.state), c.menu);
  }

  info.state = DownloadState::Completed;
  EXPECT_FALSE(noticeFor(DownloadState::Completed, info));  // no change, no notice
  ASSERT_TRUE(noticeFor(DownloadState::Downloading, info));
  EXPECT_EQ(noticeFor(DownloadState::Downloading, info)->title, "Download complete");
  info.state = DownloadState::Refused;
  info.peerErrorText = "Max downloads per user";
  const auto refused = noticeFor(DownloadState::Downloading, info);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->title, "Download failed");
  EXPECT_EQ(refused->text, "Zoë & Co #1+.mp3: Max downloads per user");
  EXPECT_TRUE(refused->failed);
  info.state = DownloadState::Stopped;
  EXPECT_FALSE(noticeFor(DownloadState::Downloading, info));
}

TEST(RateHistoryModelTest, KeepsTheLastTenMinutesOfSamples) {
  RateHistoryModel history;
  EXPECT_EQ(history.peak(), 0);
  for (int i = 0; i < 700; ++i) history.add(i, i == 650 ? 99'000 : -5);
  ASSERT_EQ(history.samples().size(), RateHistoryModel::kSamples);
  EXPECT_EQ(history.samples().front().up, 100);  // the first 100 seconds are gone
  EXPECT_EQ(history.samples().back().up, 699);
  EXPECT_EQ(history.samples().back().down, 0);  // no negative rates
  EXPECT_EQ(history.peak(), 99'000);
}

}  // namespace
}  // namespace vantrel
