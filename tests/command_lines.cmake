# SPDX-License-Identifier: MIT
# The programs' command lines: help, mistakes and their exit codes.
if(TARGET vantreld AND TARGET vantrel-server AND TARGET vantrel-pack AND NOT VANTREL_FUZZ)
  vantrel_test(command_lines_tests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/integration/command_lines_test.cpp
    DEPS vantrel_core
  )
  add_dependencies(command_lines_tests vantreld vantrel-server vantrel-pack)
  target_compile_definitions(command_lines_tests PRIVATE
    VANTREL_SERVER_BIN="$<TARGET_FILE:vantrel-server>"
    VANTRELD_BIN="$<TARGET_FILE:vantreld>"
    VANTREL_PACK_BIN="$<TARGET_FILE:vantrel-pack>")
  if(TARGET vantrel-client AND TARGET vantrel_ui)
    add_dependencies(command_lines_tests vantrel-client)
    target_compile_definitions(command_lines_tests PRIVATE VANTREL_CLIENT_BIN="$<TARGET_FILE:vantrel-client>")
  endif()
endif()
