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
