# SPDX-License-Identifier: MIT
# Whole-program tests of vantrel-server: the real program on loopback ports the
# system picks, driven with the client's own request and session code.
if(TARGET vantrel-server AND TARGET vantrel_protocol AND NOT VANTREL_FUZZ)
  vantrel_test(server_e2e_tests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/e2e/server_e2e_test.cpp
    DEPS vantrel_protocol vantrel_net vantrel_server_lib PkgConfig::LIBPQ
  )
  add_dependencies(server_e2e_tests vantrel-server)
  target_compile_definitions(server_e2e_tests PRIVATE VANTREL_SERVER_BIN="$<TARGET_FILE:vantrel-server>")
  # The restart test runs a PostgreSQL server of its own, and must find one.
  if(VANTREL_TEST_POSTGRES)
    target_compile_definitions(server_e2e_tests PRIVATE VANTREL_POSTGRES_REQUIRED)
  endif()
  # Once more on PostgreSQL, as server_tests_postgres does for the unit tests.
  if(VANTREL_TEST_POSTGRES)
    add_test(NAME server_e2e_tests_postgres
             COMMAND ${PROJECT_SOURCE_DIR}/scripts/with_postgres.sh $<TARGET_FILE:server_e2e_tests>)
    set_tests_properties(server_e2e_tests_postgres PROPERTIES TIMEOUT 600)
  endif()
endif()
