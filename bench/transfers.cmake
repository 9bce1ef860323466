# SPDX-License-Identifier: MIT
vantrel_bench(transfers_download SOURCES transfers_download_bench.cpp DEPS vantrel_transfers)
