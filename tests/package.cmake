# SPDX-License-Identifier: MIT
# The Debian package, built by CPack from this build folder's programs and
# unpacked into a scratch root. Only in an ordinary build (the sanitizer and
# fuzz builds package nothing), unless VANTREL_TEST_PACKAGE is OFF; the Debian
# tools it needs are checked in cmake/VantrelTestTools.cmake.
if(VANTREL_TEST_PACKAGE AND NOT VANTREL_FUZZ AND NOT VANTREL_SANITIZE)
  add_executable(package_tests ${CMAKE_CURRENT_SOURCE_DIR}/package/package_test.cpp)
  target_link_libraries(package_tests PRIVATE vantrel_options vantrel_app vantrel_test_support GTest::gtest GTest::gtest_main)
  add_dependencies(package_tests vantreld vantrel-server vantrel vantrel-pack vantrel-client filedata man_pages)
  target_compile_definitions(package_tests PRIVATE
    VANTREL_CPACK="${CMAKE_CPACK_COMMAND}"
    VANTREL_CPACK_CONFIG="${CMAKE_BINARY_DIR}/CPackConfig.cmake"
    VANTREL_DPKG_DEB="${VANTREL_TOOL_DPKG_DEB}"
    VANTREL_DESKTOP_FILE_VALIDATE="${VANTREL_TOOL_DESKTOP_FILE_VALIDATE}"
    VANTREL_APPSTREAMCLI="${VANTREL_TOOL_APPSTREAMCLI}"
    # The shared test helpers name the build's server; the tests run the installed one.
    VANTREL_SERVER_BIN="$<TARGET_FILE:vantrel-server>")
  if(VANTREL_UPDATE_PRIVATE_KEY)
    target_compile_definitions(package_tests PRIVATE VANTREL_UPDATE_PRIVATE_KEY="${VANTREL_UPDATE_PRIVATE_KEY}")
  endif()
  get_property(terminal_client GLOBAL PROPERTY VANTREL_TERMINAL_CLIENT)
  if(terminal_client)
    target_compile_definitions(package_tests PRIVATE VANTREL_TERMINAL_CLIENT)
  endif()
  # One process for all its tests, so that the package is built once.
  add_test(NAME package.deb COMMAND package_tests)
  set_tests_properties(package.deb PROPERTIES TIMEOUT 180)
endif()
