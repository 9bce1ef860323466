# SPDX-License-Identifier: MIT
# Whole-program tests of vantrel-server: the real program on loopback ports the
# system picks, driven with the client's own request and session code.
if(TARGET vantrel-server AND TARGET vantrel_protocol AND NOT VANTREL_FUZZ)
  vantrel_test(server_e2e_tests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/e2e/server_e2e_test.cpp
    DEPS vantrel_protocol vantrel_net
  )
  add_dependencies(server_e2e_tests vantrel-server)
  target_compile_definitions(server_e2e_tests PRIVATE VANTREL_SERVER_BIN="$<TARGET_FILE:vantrel-server>")
endif()
