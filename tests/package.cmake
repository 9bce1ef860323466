# SPDX-License-Identifier: MIT
# The Debian package, built by CPack from this build folder's programs and
# unpacked into a scratch root. Only in an ordinary build (the sanitizer and
# fuzz builds package nothing), and only where the Debian tools are at hand.
find_program(VANTREL_DPKG_DEB dpkg-deb)
find_program(VANTREL_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(VANTREL_DESKTOP_FILE_VALIDATE desktop-file-validate)
find_program(VANTREL_APPSTREAMCLI appstreamcli)
if(TARGET vantreld AND TARGET vantrel-server AND TARGET vantrel AND TARGET vantrel-pack AND TARGET vantrel-client
   AND NOT VANTREL_FUZZ AND NOT VANTREL_SANITIZE
   AND VANTREL_DPKG_DEB AND VANTREL_DPKG_SHLIBDEPS AND VANTREL_DESKTOP_FILE_VALIDATE AND VANTREL_APPSTREAMCLI)
  add_executable(package_tests ${CMAKE_CURRENT_SOURCE_DIR}/package/package_test.cpp)
  target_link_libraries(package_tests PRIVATE vantrel_options vantrel_app vantrel_test_support GTest::gtest GTest::gtest_main)
  add_dependencies(package_tests vantreld vantrel-server vantrel vantrel-pack vantrel-client filedata man_pages)
  target_compile_definitions(package_tests PRIVATE
    VANTREL_CPACK="${CMAKE_CPACK_COMMAND}"
    VANTREL_CPACK_CONFIG="${CMAKE_BINARY_DIR}/CPackConfig.cmake"
    VANTREL_DPKG_DEB="${VANTREL_DPKG_DEB}"
    VANTREL_DESKTOP_FILE_VALIDATE="${VANTREL_DESKTOP_FILE_VALIDATE}"
    VANTREL_APPSTREAMCLI="${VANTREL_APPSTREAMCLI}"
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
