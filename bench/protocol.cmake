# SPDX-License-Identifier: MIT
vantrel_bench(protocol SOURCES protocol_bench.cpp DEPS vantrel_protocol)
