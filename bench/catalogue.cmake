# SPDX-License-Identifier: MIT
vantrel_bench(catalogue SOURCES catalogue_bench.cpp DEPS vantrel_catalogue)
