# SPDX-License-Identifier: MIT
# The whole client with its window against the real reference server on
# loopback, offscreen: log in, share through the share-files window, exit.
if(TARGET vantrel_ui AND TARGET vantrel-server AND TARGET filedata AND NOT VANTREL_FUZZ)
  add_executable(window_e2e_tests ${CMAKE_CURRENT_SOURCE_DIR}/e2e/window_e2e_test.cpp
                 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/firewall_e2e_test.cpp
                 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/transfers_e2e_test.cpp
                 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/catalogue_e2e_test.cpp
                 ${PROJECT_SOURCE_DIR}/src/ui/ui_test_main.cpp ${PROJECT_SOURCE_DIR}/src/ui/icons.qrc)
  set_target_properties(window_e2e_tests PROPERTIES AUTORCC ON)
  target_link_libraries(window_e2e_tests PRIVATE vantrel_options vantrel_ui vantrel_test_support GTest::gtest)
  add_dependencies(window_e2e_tests vantrel-server filedata)
  target_compile_definitions(window_e2e_tests PRIVATE
    VANTREL_SERVER_BIN="$<TARGET_FILE:vantrel-server>"
    VANTREL_FILEDATA="${CMAKE_BINARY_DIR}/filedata.dat"
    VANTREL_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/ui-screenshots")
  gtest_discover_tests(window_e2e_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()
