# SPDX-License-Identifier: MIT
vantrel_bench(sync SOURCES sync_bench.cpp DEPS vantrel_catalogue_sync)
