# SPDX-License-Identifier: MIT
# The cluster an operator tries on one machine (scripts/cluster): PostgreSQL
# primary and streaming standby, three vantrel-server hosts, haproxy in front.
# Skipped (77) where PostgreSQL or haproxy is missing.
if(TARGET vantrel-server AND TARGET vantreld AND TARGET filedata AND NOT VANTREL_FUZZ)
  add_test(NAME cluster_script
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/cluster_script_test.sh ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR})
  set_tests_properties(cluster_script PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()
