// SPDX-License-Identifier: MIT
#include "state/client_state.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <vector>

#include "platform/registry_hive.h"
#include "settings/settings_store.h"
#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

using Settings = std::map<std::string, int32_t>;

// A client state over a settings hive in a scratch folder, with a clock the
// test moves by hand.
class ClientStateTest : public ::testing::Test {
 protected:
  ClientStateTest() : hive(dir.path().string()), settings(hive, "VantrelTest") {}

  std::unique_ptr<ClientState> start(const Settings& stored = {}) {
    for (const auto& [name, value] : stored) settings.SetSettingNumber(name, value);
    auto state = std::make_unique<ClientState>(settings, timers, [this] { return now.load(); });
    state->Initialise();
    return state;
  }

  vantrel::testing::TempFolder dir;
  RegistryHive hive;
  SettingsStore settings;
  TimerService timers;
  std::atomic<int64_t> now{100000};
};

TEST_F(ClientStateTest, InitialiseTakesLimitsAndTotalsFromTheSettings) {
  struct Case {
    const char* name;
    Settings stored;
    int maxUsers, maxBand, maxUserBand, maxPerUser;
    bool automatic;
  };
  const Case cases[] = {
      {"fresh profile: the defaults", {}, 10, 2000000, 2000000, 5, false},
      {"automatic, never measured", {{"contype", 0}}, 2, 3000, 3000, 5, true},
      {"automatic, measured 12,000", {{"contype", 0}, {"maxbandever", 12000}}, 2, 12000, 12000, 5, true},
      {"automatic, measured little", {{"contype", 0}, {"maxbandever", 3000}}, 1, 3000, 3000, 5, true},
      {"per-user band above total is cut",
       {{"contype", 7}, {"maxusers", 20}, {"maxband", 1000}, {"maxusrband", 5000}},
       20, 1000, 1000, 5, false},
      {"per-user limit below 1 reads as 5", {{"maxperuser", 0}}, 10, 2000000, 2000000, 5, false},
      {"per-user limit kept", {{"maxperuser", 3}}, 10, 2000000, 2000000, 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vantrel::testing::TempFolder own;
    RegistryHive ownHive(own.path().string());
    SettingsStore ownSettings(ownHive, "VantrelTest");
    for (const auto& [name, value] : c.stored) ownSettings.SetSettingNumber(name, value);
    ClientState state(ownSettings, timers);
    state.Initialise();
    EXPECT_EQ(state.MaxUsers(), c.maxUsers);
    EXPECT_EQ(state.MaxBand(), c.maxBand);
    EXPECT_EQ(state.MaxUserBand(), c.maxUserBand);
    EXPECT_EQ(state.MaxPerUser(), c.maxPerUser);
    EXPECT_EQ(state.AutomaticBandwidth(), c.automatic);
    EXPECT_EQ(state.StatusText(), "Not logged into server");
    EXPECT_EQ(state.UserId(), -1);
    EXPECT_FALSE(state.Connected());
  }
  // The cut per-user band is written back.
  vantrel::testing::TempFolder own;
  RegistryHive ownHive(own.path().string());
  SettingsStore ownSettings(ownHive, "VantrelTest");
  ownSettings.SetSettingNumber("maxband", 1000);
  ownSettings.SetSettingNumber("maxusrband", 5000);
  ClientState(ownSettings, timers).Initialise();
  EXPECT_EQ(ownSettings.GetSettingNumber("maxusrband"), 1000);
}

TEST_F(ClientStateTest, TotalsSurviveARestartUnderTheirOwnNames) {
  auto first = start({{"tlfls", 41}});
  EXPECT_EQ(first->FilesSent(), 41);
  first->SetTotals({.bytes = 1000, .kilobytes = 2, .megabytes = 3, .gigabytes = 4, .terabytes = 5});
  first->FileSent();
  first->Finalise();
  first.reset();
  // Bytes and terabytes must not share one stored value.
  EXPECT_EQ(settings.GetSettingNumber("tbts"), 1000);
  EXPECT_EQ(settings.GetSettingNumber("tbtts"), 5);
  EXPECT_EQ(settings.GetSettingNumber("tlfls"), 42);

  auto second = start();
  const SentTotals t = second->Totals();
  EXPECT_EQ(t.bytes, 1000u);
  EXPECT_EQ(t.kilobytes, 2u);
  EXPECT_EQ(t.megabytes, 3u);
  EXPECT_EQ(t.gigabytes, 4u);
  EXPECT_EQ(t.terabytes, 5u);
  EXPECT_EQ(second->FilesSent(), 42);
}

TEST_F(ClientStateTest, CountSentCarriesOnlyPast1024) {
  struct Case {
    const char* name;
    SentTotals before;
    uint32_t sent;
    SentTotals want;
  };
  const Case cases[] = {
      {"1,500 from zero", {}, 1500, {.bytes = 476, .kilobytes = 1}},
      {"exactly 1,024 stays", {}, 1024, {.bytes = 1024}},
      {"1,025 carries", {}, 1025, {.bytes = 1, .kilobytes = 1}},
      {"2,048 carries two", {}, 2048, {.bytes = 0, .kilobytes = 2}},
      {"a carry ripples up to terabytes",
       {.bytes = 1024, .kilobytes = 1024, .megabytes = 1024, .gigabytes = 1024},
       1,
       {.bytes = 1, .kilobytes = 1, .megabytes = 1, .gigabytes = 1, .terabytes = 1}},
      {"a full kilobyte count does not carry by itself",
       {.bytes = 10, .kilobytes = 1024},
       5,
       {.bytes = 15, .kilobytes = 1024}},
  };
  auto state = start();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    state->SetTotals(c.before);
    state->CountSent(c.sent, "10.0.0.9");
    const SentTotals t = state->Totals();
    EXPECT_EQ(t.bytes, c.want.bytes);
    EXPECT_EQ(t.kilobytes, c.want.kilobytes);
    EXPECT_EQ(t.megabytes, c.want.megabytes);
    EXPECT_EQ(t.gigabytes, c.want.gigabytes);
    EXPECT_EQ(t.terabytes, c.want.terabytes);
  }
}

TEST_F(ClientStateTest, CountSentPacesRemotePeersToMaxband) {
  auto state = start({{"maxband", 2000}, {"maxusrband", 2000}});
  state->SetLocalAddress("192.168.1.5");
  now += 1500;
  // Each remote block waits for its share of the second after those before it,
  // whichever download sends it.
  EXPECT_EQ(state->CountSent(2000, "10.0.0.9"), 1000);
  EXPECT_EQ(state->CountSent(1000, "10.0.0.7"), 1500);
  EXPECT_EQ(state->CountSent(1, "127.0.0.1"), 0) << "local peers are never paced";
  EXPECT_EQ(state->CountSent(1, "192.168.1.5"), 0);
  now += 1500;  // the blocks went out on time
  EXPECT_EQ(state->CountSent(3, "10.0.0.9"), 1) << "fractions of a millisecond are kept";
  now += 2;
  EXPECT_EQ(state->CountSent(1, "10.0.0.9"), 0);
  now += 10000;  // idle: no credit for the time nobody sent
  EXPECT_EQ(state->CountSent(200, "10.0.0.9"), 100);
}

TEST_F(ClientStateTest, CountSentNeverLetsAWindowPassFourTimesMaxband) {
  auto state = start({{"maxband", 2000}, {"maxusrband", 2000}});
  const int64_t windowStart = now;
  // Local bytes count in the window (and are not paced); then one remote byte
  // over 4 x maxband waits for the window's end.
  EXPECT_EQ(state->CountSent(8000, "127.0.0.1"), 0);
  now += 1500;
  EXPECT_EQ(state->CountSent(1, "10.0.0.9"), 2500) << "over the limit: wait for the window's end";
  now = windowStart + 4200;  // the tick is late: never a negative wait
  EXPECT_EQ(state->CountSent(1, "10.0.0.9"), 0);
  state->BandwidthTick();  // a new window
  now += 1000;
  EXPECT_EQ(state->CountSent(100, "10.0.0.9"), 50);
}

TEST_F(ClientStateTest, BandwidthTickMeasuresAndAdaptsAutomaticLimits) {
  auto state = start({{"contype", 0}});
  ASSERT_EQ(state->MaxBand(), 3000);
  state->CountSent(48000, "10.0.0.9");
  state->BandwidthTick();
  EXPECT_EQ(state->CurrentRate(), 12000u);
  EXPECT_EQ(state->PeakRate(), 12000u);
  EXPECT_EQ(state->MaxBand(), 24000);
  EXPECT_EQ(state->MaxUserBand(), 24000);
  EXPECT_EQ(state->MaxUsers(), 2);
  EXPECT_EQ(settings.GetSettingNumber("maxbandever"), 12000);
  EXPECT_EQ(settings.GetSettingNumber("maxband"), 24000);
  EXPECT_EQ(settings.GetSettingNumber("maxusrband"), 24000);
  EXPECT_EQ(settings.GetSettingNumber("maxusers"), 2);

  state->BandwidthTick();  // an idle window
  EXPECT_EQ(state->CurrentRate(), 0u);
  EXPECT_EQ(state->PeakRate(), 12000u);
  EXPECT_EQ(state->MaxBand(), 24000) << "limits only ever follow a new best";
}

TEST_F(ClientStateTest, BandwidthTickKeepsFixedLimits) {
  auto state = start({{"contype", 7}, {"maxband", 100000}, {"maxusrband", 50000}, {"maxusers", 20}});
  state->CountSent(80000, "10.0.0.9");
  state->BandwidthTick();
  EXPECT_EQ(settings.GetSettingNumber("maxbandever"), 20000);
  EXPECT_EQ(state->MaxBand(), 100000);
  EXPECT_EQ(state->MaxUsers(), 20);
  EXPECT_EQ(settings.GetSettingNumber("maxband"), 100000);
}

TEST_F(ClientStateTest, FormatTotalSent) {
  struct Case {
    SentTotals totals;
    std::string want;
  };
  const Case cases[] = {
      {{.kilobytes = 512, .megabytes = 2}, "2.5 Megs"},
      {{.bytes = 300}, "300 bytes"},
      {{.bytes = 1024}, "1024 bytes"},
      {{.kilobytes = 1}, "1.0 Kbytes"},
      {{.bytes = 51, .kilobytes = 7}, "7.0 Kbytes"},
      {{.bytes = 52, .kilobytes = 7}, "7.1 Kbytes"},
      {{.kilobytes = 1023, .megabytes = 1}, "2.0 Megs"},
      {{.megabytes = 100, .gigabytes = 3}, "3.1 Gigs"},
      {{.gigabytes = 512, .terabytes = 1}, "1.5 Ter"},
  };
  auto state = start();
  for (const Case& c : cases) {
    state->SetTotals(c.totals);
    EXPECT_EQ(state->FormatTotalSent(), c.want);
  }
}

TEST_F(ClientStateTest, SessionsAndThePerUserCount) {
  auto state = start({{"maxperuser", 5}});
  state->SetLocalAddress("192.168.1.5");
  std::vector<std::shared_ptr<UploadSession>> mine;
  for (int i = 0; i < 5; ++i) {
    auto s = state->NewUploadSession();
    s->setPeerAddress("10.0.0.9");
    mine.push_back(s);
  }
  for (const char* local : {"127.0.0.1", "192.168.1.5"}) {
    for (int i = 0; i < 7; ++i) state->NewUploadSession()->setPeerAddress(local);
  }
  EXPECT_EQ(state->UploadsFromAddress("10.0.0.9"), 0) << "five is the limit, not over it";
  state->NewUploadSession()->setPeerAddress("10.0.0.9");
  EXPECT_EQ(state->UploadsFromAddress("10.0.0.9"), 6);
  EXPECT_EQ(state->UploadsFromAddress("127.0.0.1"), 0);
  EXPECT_EQ(state->UploadsFromAddress("192.168.1.5"), 0);
  EXPECT_EQ(state->UploadsFromAddress("10.0.0.10"), 0);

  EXPECT_EQ(mine[1]->sessionId(), mine[0]->sessionId() + 1);
  EXPECT_EQ(state->FirstSession(), mine[0]);
  EXPECT_EQ(state->SessionCount(), 20u);
  state->MarkSessionInactive(mine[2]->sessionId());
  EXPECT_FALSE(mine[2]->active);
  EXPECT_TRUE(state->RemoveUploadSession(mine[2]->sessionId()));
  EXPECT_FALSE(state->RemoveUploadSession(mine[2]->sessionId()));
  EXPECT_EQ(state->LookupSession(mine[2]->sessionId()), nullptr);
  EXPECT_EQ(mine[2]->peerAddress(), "10.0.0.9") << "a holder keeps its record after removal";
  EXPECT_EQ(state->LookupSession(mine[3]->sessionId()), mine[3]);

  state->SetMaxPerUser(10);
  EXPECT_EQ(settings.GetSettingNumber("maxperuser"), 10);
  EXPECT_EQ(state->UploadsFromAddress("10.0.0.9"), 0);
}

TEST_F(ClientStateTest, UploadCountersFromManyThreads) {
  auto state = start({{"tlfls", 0}});
  constexpr int kThreads = 4, kEach = 25;
  {
    std::vector<std::jthread> workers;
    for (int t = 0; t < kThreads; ++t) {
      workers.emplace_back([&] {
        for (int i = 0; i < kEach; ++i) {
          state->UploadStarted();
          state->FileSent();
          state->CountSent(1000, "10.0.0.9");
          state->UploadEnded();
        }
      });
    }
  }
  EXPECT_EQ(state->ActiveUploads(), 0);
  EXPECT_GE(state->PeakUploads(), 1);
  EXPECT_EQ(state->FilesSent(), kThreads * kEach);
  EXPECT_EQ(settings.GetSettingNumber("tlfls"), kThreads * kEach) << "the stored total is the latest";
  const SentTotals t = state->Totals();
  EXPECT_EQ(uint64_t{t.kilobytes} * 1024 + t.bytes, uint64_t{kThreads * kEach * 1000});
  state->UploadEnded();  // unmatched
  EXPECT_EQ(state->ActiveUploads(), 0);
}

TEST_F(ClientStateTest, ConnectionChangesAreLoggedAndShownInTheTray) {
  auto state = start();
  Log log("", 0, false);
  state->setLog(&log);
  std::vector<TrayState> shown;
  state->setTrayCallback([&](const TrayState& s) { shown.push_back(s); });

  state->SetConnected(true);
  state->SetConnected(true);  // no change: no second line
  ASSERT_EQ(log.recentLines().size(), 1u);
  EXPECT_NE(log.recentLines()[0].find("Connected to server"), std::string::npos);
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back().icon, 175);
  EXPECT_EQ(shown.back().tooltip, "Vantrel - 0 connected users, 0 k/s bandwidth used");

  state->UploadStarted();
  state->UploadStarted();
  shown.clear();
  state->SetConnected(true);
  EXPECT_TRUE(shown.empty()) << "uploads running: the tick shows their numbers";
  state->CountSent(48000, "10.0.0.9");
  state->BandwidthTick();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown.back().tooltip, "Vantrel - 2 connected users, 12 k/s bandwidth used");

  state->QueueTrayNotice();
  EXPECT_EQ(shown.back().icon, 254);
  EXPECT_EQ(shown.back().flashIcon, 255);
  EXPECT_EQ(shown.back().tooltip, "Some shared files have been moved or deleted, click here");
  shown.clear();
  state->BandwidthTick();
  EXPECT_TRUE(shown.empty()) << "a pending notice is not overwritten";

  state->ClearTrayNotice();
  state->SetConnected(false);
  EXPECT_EQ(shown.back().icon, 199);
  EXPECT_NE(log.recentLines().back().find("Disconnected from server"), std::string::npos);
  state->setLog(nullptr);
}

TEST_F(ClientStateTest, LoadClassFollowsTheConnectionType) {
  struct Case {
    int32_t contype;  // -1: none stored
    int32_t maxBandEver;
    int want;
  };
  const Case cases[] = {
      {-1, -1, 0},     {0, 19999, 0},    {0, 20000, 1},    {0, 99999, 4}, {0, 1000000, 5},
      {13, 60000, 3},  {1, 1000000, 1},  {5, 0, 1},        {6, 0, 3},     {8, 0, 3},
      {9, 0, 4},       {10, 0, 5},       {12, 0, 5},       {14, 45000, 2}, {-7, 45000, 2},
  };
  auto state = start();
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "contype " << c.contype << " maxbandever " << c.maxBandEver);
    hive.deleteValue(settings.settingsKey(), "contype");
    hive.deleteValue(settings.settingsKey(), "maxbandever");
    if (c.contype != -1) settings.SetSettingNumber("contype", c.contype);
    if (c.maxBandEver != -1) settings.SetSettingNumber("maxbandever", c.maxBandEver);
    EXPECT_EQ(state->LoadClass(), c.want);
  }
}

TEST_F(ClientStateTest, AppliedConnectionTypeReloadsTheRunningLimits) {
  auto state = start({{"contype", 0}});
  ASSERT_TRUE(state->AutomaticBandwidth());
  settings.setLimitsReloadHook([&] { state->ReloadLimits(); });
  settings.ApplyConnectionType(7);
  EXPECT_EQ(state->MaxUsers(), 20);
  EXPECT_EQ(state->MaxBand(), 100000);
  EXPECT_FALSE(state->AutomaticBandwidth());
  // A new best measurement no longer overrides what the user chose.
  state->CountSent(4000000, "10.0.0.9");
  state->BandwidthTick();
  EXPECT_EQ(state->MaxBand(), 100000);
  EXPECT_EQ(settings.GetSettingNumber("maxband"), 100000);
  settings.setLimitsReloadHook(nullptr);
}

TEST_F(ClientStateTest, TimersRunTheFileCheckHookAndStopAtFinalise) {
  auto state = start();
  std::atomic<int> checks{0};
  state->setFileCheckHook([&] { ++checks; });
  state->FileCheckTick();
  EXPECT_EQ(checks, 1);
  state->Finalise();
  state->Finalise();  // twice is harmless
  EXPECT_EQ(state->SessionCount(), 0u);
}

}  // namespace
}  // namespace vantrel
