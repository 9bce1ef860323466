# SPDX-License-Identifier: MIT
# The cluster an operator tries on one machine (scripts/cluster): PostgreSQL
# primary and streaming standby, three vantrel-server hosts, haproxy in front.
# Left out only with -DVANTREL_TEST_CLUSTER=OFF.
if(VANTREL_TEST_CLUSTER AND NOT VANTREL_FUZZ)
  add_test(NAME cluster_script
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/cluster_script_test.sh ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR})
  set_tests_properties(cluster_script PROPERTIES TIMEOUT 300)
endif()
