# SPDX-License-Identifier: MIT
# Slow senders against the running file server and central server, with real
# requests beside them; slow_senders.sh starts both servers and runs it.
if(VANTREL_BENCH AND NOT VANTREL_FUZZ)
  add_executable(bench_slow_senders slow_senders.cpp)
  target_link_libraries(bench_slow_senders PRIVATE vantrel_options)
endif()
