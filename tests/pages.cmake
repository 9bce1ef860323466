# SPDX-License-Identifier: MIT
# The page templates rendered for a small client, and in a browser.
if(TARGET vantrel_providers)
  vantrel_test(pages_render_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/integration/pages_render_test.cpp
    DEPS vantrel_providers
  )
  if(TARGET pages_render_tests)
    target_compile_definitions(pages_render_tests PRIVATE VANTREL_PAGES_DIR="${PROJECT_SOURCE_DIR}/pages/filedata")
  endif()
endif()

# The browser test: the file server over a small shared list, and every page
# in headless Chromium driven by playwright-core (installed with
# `npm install --prefix build/e2e-node playwright-core`, which scripts/test does). On unless
# VANTREL_TEST_BROWSER is OFF; a missing Chromium or playwright-core fails them with the
# reason. Screenshots land in <build>/pages-screenshots.
if(NOT DEFINED VANTREL_NODE_MODULES)
  if(DEFINED ENV{VANTREL_NODE_MODULES})
    set(VANTREL_NODE_MODULES $ENV{VANTREL_NODE_MODULES})
  else()
    set(VANTREL_NODE_MODULES ${PROJECT_SOURCE_DIR}/build/e2e-node/node_modules)
  endif()
endif()
if(TARGET vantrel_providers AND TARGET vantrel_fileserver AND NOT VANTREL_FUZZ)
  add_executable(pages_e2e_server ${CMAKE_CURRENT_LIST_DIR}/e2e/pages_e2e_server.cpp)
  target_link_libraries(pages_e2e_server PRIVATE vantrel_options vantrel_providers vantrel_fileserver)
  if(VANTREL_TEST_BROWSER)
    add_test(NAME pages.browser
             COMMAND ${VANTREL_TOOL_NODE} ${CMAKE_CURRENT_LIST_DIR}/e2e/pages_browser_test.cjs
                     $<TARGET_FILE:pages_e2e_server> ${CMAKE_BINARY_DIR}/filedata.dat
                     ${CMAKE_BINARY_DIR}/pages-e2e-scratch ${CMAKE_BINARY_DIR}/pages-screenshots)
    set_tests_properties(pages.browser PROPERTIES TIMEOUT 180
                         ENVIRONMENT "NODE_PATH=${VANTREL_NODE_MODULES};CHROMIUM=${VANTREL_TOOL_CHROMIUM}")
  endif()
endif()

# The share flow in a browser: the web site's "Share files here" into a running
# vantreld's share page, sharing a file and a folder with spaces in their names.
if(VANTREL_TEST_BROWSER AND TARGET vantreld AND TARGET vantrel-server AND TARGET filedata AND NOT VANTREL_FUZZ)
  add_test(NAME pages.share_flow
           COMMAND ${VANTREL_TOOL_NODE} ${CMAKE_CURRENT_LIST_DIR}/e2e/share_flow_browser_test.cjs
                   $<TARGET_FILE:vantrel-server> $<TARGET_FILE:vantreld> ${CMAKE_BINARY_DIR}/filedata.dat
                   ${CMAKE_BINARY_DIR}/share-flow-scratch ${CMAKE_BINARY_DIR}/pages-screenshots)
  set_tests_properties(pages.share_flow PROPERTIES TIMEOUT 180
                       ENVIRONMENT "NODE_PATH=${VANTREL_NODE_MODULES};CHROMIUM=${VANTREL_TOOL_CHROMIUM}")
endif()
