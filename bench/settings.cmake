# SPDX-License-Identifier: MIT
vantrel_bench(settings SOURCES settings_bench.cpp DEPS vantrel_settings vantrel_test_support)
