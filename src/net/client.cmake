# SPDX-License-Identifier: MIT
# Client half of the network layer: the outgoing socket, the HTTP client and the
# readers of the central server's reply fields.
list(APPEND VANTREL_NET_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/client_socket.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/client_request.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/reply_fields.cpp
)
list(APPEND VANTREL_NET_TESTS
  ${CMAKE_CURRENT_SOURCE_DIR}/client_request_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/reply_fields_test.cpp
)
