# SPDX-License-Identifier: MIT
# Whole-program tests of vantreld and vantrel-client against the real reference
# server on loopback.
if(TARGET vantreld AND TARGET vantrel-server AND TARGET filedata AND NOT VANTREL_FUZZ)
  vantrel_test(app_e2e_tests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/e2e/app_e2e_test.cpp
    DEPS vantrel_app
  )
  add_dependencies(app_e2e_tests vantreld vantrel-server filedata)
  target_compile_definitions(app_e2e_tests PRIVATE
    VANTREL_SERVER_BIN="$<TARGET_FILE:vantrel-server>"
    VANTRELD_BIN="$<TARGET_FILE:vantreld>"
    VANTREL_FILEDATA="${CMAKE_BINARY_DIR}/filedata.dat")
  # The launcher installs what the client downloaded when the build folder's
  # own key signed it.
  if(TARGET vantrel AND VANTREL_UPDATE_PRIVATE_KEY)
    add_dependencies(app_e2e_tests vantrel)
    target_compile_definitions(app_e2e_tests PRIVATE VANTREL_LAUNCHER_BIN="$<TARGET_FILE:vantrel>"
                               VANTREL_UPDATE_PRIVATE_KEY="${VANTREL_UPDATE_PRIVATE_KEY}")
  endif()
  # The launcher's switches are tested on the terminal build of vantrel-client.
  get_property(VANTREL_TERMINAL_CLIENT GLOBAL PROPERTY VANTREL_TERMINAL_CLIENT)
  if(TARGET vantrel-client AND VANTREL_TERMINAL_CLIENT)
    add_dependencies(app_e2e_tests vantrel-client)
    target_compile_definitions(app_e2e_tests PRIVATE VANTREL_CLIENT_BIN="$<TARGET_FILE:vantrel-client>")
  endif()
endif()

# One name with every character that links, forms and requests could break,
# from a folder on disk to another user's download.
if(TARGET vantrel-server AND TARGET filedata AND NOT VANTREL_FUZZ)
  vantrel_test(names_e2e_tests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/e2e/names_e2e_test.cpp
    DEPS vantrel_app
  )
  add_dependencies(names_e2e_tests vantrel-server filedata)
  target_compile_definitions(names_e2e_tests PRIVATE
    VANTREL_SERVER_BIN="$<TARGET_FILE:vantrel-server>"
    VANTREL_FILEDATA="${CMAKE_BINARY_DIR}/filedata.dat")
endif()

# Downloads through vantreld: search, download, a kill mid-download, a full disk.
if(TARGET vantreld AND TARGET vantrel-server AND TARGET filedata AND NOT VANTREL_FUZZ)
  vantrel_test(downloads_e2e_tests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/e2e/downloads_e2e_test.cpp
    DEPS vantrel_app
  )
  add_dependencies(downloads_e2e_tests vantreld vantrel-server filedata)
  target_compile_definitions(downloads_e2e_tests PRIVATE
    VANTREL_SERVER_BIN="$<TARGET_FILE:vantrel-server>"
    VANTRELD_BIN="$<TARGET_FILE:vantreld>"
    VANTREL_FILEDATA="${CMAKE_BINARY_DIR}/filedata.dat")
endif()
