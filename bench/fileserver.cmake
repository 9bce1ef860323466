# SPDX-License-Identifier: MIT
# The file server stand-alone for fileserver_bench.sh (which compares it with
# nginx), and the shared-file list at size.
if(NOT VANTREL_FUZZ AND TARGET vantrel_fileserver)
  add_executable(fileserver_serve fileserver_serve.cpp)
  target_link_libraries(fileserver_serve PRIVATE vantrel_options vantrel_fileserver)
endif()
