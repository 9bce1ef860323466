# SPDX-License-Identifier: MIT
# The central server's request reader: HTTP requests, encrypted client
# requests and UDP pings.
if(TARGET vantrel_server_lib)
  vantrel_fuzz(server_request SOURCE ${PROJECT_SOURCE_DIR}/server/request_reader_fuzz.cpp DEPS vantrel_server_lib)
endif()
