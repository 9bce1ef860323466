# SPDX-License-Identifier: MIT
# The central server's request reader: HTTP requests, encrypted client
# requests and UDP pings; and the operator's command lines (listening
# addresses, the admin commands); and the PROXY line and X-Forwarded-For
# value a proxy puts in front of a request.
if(TARGET vantrel_server_lib)
  vantrel_fuzz(server_request SOURCE server_request_fuzz.cpp DEPS vantrel_server_lib)
  vantrel_fuzz(server_command_line SOURCE server_command_line_fuzz.cpp DEPS vantrel_server_lib)
  vantrel_fuzz(proxy_header SOURCE proxy_header_fuzz.cpp DEPS vantrel_server_lib)
endif()
