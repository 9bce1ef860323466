# SPDX-License-Identifier: MIT
vantrel_bench(client_state SOURCES client_state_bench.cpp DEPS vantrel_state)
