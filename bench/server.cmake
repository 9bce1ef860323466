# SPDX-License-Identifier: MIT
# The central server: search over a million names (Google Benchmark), and the
# load tool that server_load.sh runs against a live vantrel-server, and the
# mixed load (logins, pings, searches while files are written) in process.
if(TARGET vantrel_server_lib)
  vantrel_bench(server_search SOURCES server_search_bench.cpp DEPS vantrel_server_lib)
  if(VANTREL_BENCH AND NOT VANTREL_FUZZ)
    add_executable(bench_server_load server_load.cpp)
    target_link_libraries(bench_server_load PRIVATE vantrel_options vantrel_server_lib vantrel_net)
    add_executable(bench_server_clients server_clients.cpp)
    target_link_libraries(bench_server_clients PRIVATE vantrel_options vantrel_server_lib vantrel_net)
    add_executable(bench_server_mixed server_mixed.cpp)
    target_link_libraries(bench_server_mixed PRIVATE vantrel_options vantrel_server_lib vantrel_net)
  endif()
endif()
