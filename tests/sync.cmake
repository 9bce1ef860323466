# SPDX-License-Identifier: MIT
# Sharing, downloading and keeping the lists in step, with two clients and
# vantrel-server on loopback.
if(TARGET vantrel-server AND TARGET vantrel_transfers AND TARGET vantrel_fileserver_commands AND NOT VANTREL_FUZZ)
  vantrel_test(sharing_e2e_tests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/e2e/sharing_e2e_test.cpp
    DEPS vantrel_transfers vantrel_catalogue_sync vantrel_fileserver_commands vantrel_fileserver vantrel_protocol
  )
  add_dependencies(sharing_e2e_tests vantrel-server)
  target_compile_definitions(sharing_e2e_tests PRIVATE VANTREL_SERVER_BIN="$<TARGET_FILE:vantrel-server>")
endif()
