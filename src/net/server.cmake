# SPDX-License-Identifier: MIT
# Server half of the network layer: the threaded TCP server, its connections and
# the socket helpers that the HTTP client shares.
list(APPEND VANTREL_NET_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/head_reader.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/socket_io.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tcp_connection.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tcp_server.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/worker_thread.cpp
)
list(APPEND VANTREL_NET_TESTS
  ${CMAKE_CURRENT_SOURCE_DIR}/head_reader_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/socket_io_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tcp_server_test.cpp
)
