# SPDX-License-Identifier: MIT
# The file server against real HTTP clients (curl, wget and the client's own
# download manager) on loopback.
if(TARGET vantrel_fileserver AND TARGET vantrel_transfers AND NOT VANTREL_FUZZ)
  vantrel_test(fileserver_integration_tests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/integration/fileserver_clients_test.cpp
    DEPS vantrel_fileserver vantrel_transfers
  )
endif()
