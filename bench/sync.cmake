# SPDX-License-Identifier: MIT
vantrel_bench(sync SOURCES sync_bench.cpp DEPS vantrel_catalogue_sync)
if(TARGET bench_sync AND TARGET vantrel-server)
  # The share run against the reference server starts this build's vantrel-server.
  add_dependencies(bench_sync vantrel-server)
  target_compile_definitions(bench_sync PRIVATE VANTREL_SERVER_BIN="$<TARGET_FILE:vantrel-server>")
endif()
