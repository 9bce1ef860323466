# SPDX-License-Identifier: MIT
# The file server against real HTTP clients (curl and wget) on loopback.
if(TARGET vantrel_fileserver AND NOT VANTREL_FUZZ)
  vantrel_test(fileserver_integration_tests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/integration/fileserver_clients_test.cpp
    DEPS vantrel_fileserver
  )
endif()
