// SPDX-License-Identifier: MIT
#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include "platform/testing/temp_dir.h"

namespace vantrel {
namespace {

TEST(SettingsStore, FreshProfileReadsDefaults) {
  testing::TempDir dir;
  RegistryHive hive(dir.path());
  SettingsStore store(hive, "Vantrel", AutostartEntry(dir.file("autostart"), "/opt/vantrel/vantrel"));
  EXPECT_EQ(store.GetSettingNumber("port"), 8323);
  EXPECT_EQ(store.GetSettingNumber("contype"), -1);
}

}  // namespace
}  // namespace vantrel
