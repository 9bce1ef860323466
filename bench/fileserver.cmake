# SPDX-License-Identifier: MIT
# The file server stand-alone, over the client's state and pages, for
# fileserver_bench.sh (which compares it with nginx).
if(NOT VANTREL_FUZZ AND TARGET vantrel_headless)
  add_executable(fileserver_serve fileserver_serve.cpp)
  target_link_libraries(fileserver_serve PRIVATE vantrel_options vantrel_headless)
endif()
if(TARGET fileserver_serve AND TARGET filedata)
  add_dependencies(fileserver_serve filedata)  # the script serves ${CMAKE_BINARY_DIR}/filedata.dat
endif()
