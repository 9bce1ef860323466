# SPDX-License-Identifier: MIT
# Sharing runs, verification of the shared files and comparison with the
# server's list, and the logic of the dialogs that resolve differences.
vantrel_library(catalogue_sync
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/missing_files.cpp
    ${CMAKE_CURRENT_LIST_DIR}/server_comparison.cpp
    ${CMAKE_CURRENT_LIST_DIR}/share_run.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sync_dialog.cpp
  DEPS vantrel_catalogue vantrel_protocol vantrel_platform vantrel_core
)
vantrel_test(catalogue_sync_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/share_run_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sync_test.cpp
  DEPS vantrel_catalogue_sync
)
