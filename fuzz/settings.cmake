# SPDX-License-Identifier: MIT
# Settings and platform: texts read back from disk (autostart entries, stored
# passwords) and key names that reach the registry hive.
vantrel_fuzz(autostart_entry SOURCE autostart_entry_fuzz.cpp DEPS vantrel_platform)
vantrel_fuzz(password_scramble SOURCE password_scramble_fuzz.cpp DEPS vantrel_settings)
vantrel_fuzz(registry_paths SOURCE registry_paths_fuzz.cpp DEPS vantrel_platform vantrel_test_support)
