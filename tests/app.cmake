# SPDX-License-Identifier: MIT
# Whole-program tests of vantreld and vantrel-client against the real reference
# server on loopback.
if(TARGET vantreld AND TARGET vantrel-server AND TARGET filedata AND NOT VANTREL_FUZZ)
  vantrel_test(app_e2e_tests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/e2e/app_e2e_test.cpp
    DEPS vantrel_app
  )
  add_dependencies(app_e2e_tests vantreld vantrel-client vantrel-server filedata)
  target_compile_definitions(app_e2e_tests PRIVATE
    VANTREL_SERVER_BIN="$<TARGET_FILE:vantrel-server>"
    VANTRELD_BIN="$<TARGET_FILE:vantreld>"
    VANTREL_CLIENT_BIN="$<TARGET_FILE:vantrel-client>"
    VANTREL_FILEDATA="${CMAKE_BINARY_DIR}/filedata.dat")
endif()
