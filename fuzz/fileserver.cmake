# SPDX-License-Identifier: MIT
# The file server's readers of network input: the request (request line, URL,
# query string, header block, form body) and the Range header.
vantrel_fuzz(request SOURCE request_fuzz.cpp DEPS vantrel_fileserver)
vantrel_fuzz(range SOURCE range_fuzz.cpp DEPS vantrel_fileserver)
