# SPDX-License-Identifier: MIT
# What a new user meets first, run as they would run it.
# scripts/run as the README has a new user start it: the window (offscreen,
# with DISPLAY set) or vantreld, logged in, and stopped by Ctrl-C or by the client ending.
if(TARGET vantrel_ui AND TARGET vantreld AND TARGET vantrel-server AND TARGET filedata AND NOT VANTREL_FUZZ)
  foreach(case window-ctrl-c window-exit headless)
    add_test(NAME run_script_${case}
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/run_script_test.sh ${case} ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR})
    set_tests_properties(run_script_${case} PROPERTIES TIMEOUT 90)
  endforeach()
endif()

# The window client as a new user meets it: a fresh client finds the server; a
# second person's client on the same computer takes ports of its own.
if(TARGET vantrel_ui AND TARGET vantrel-server AND TARGET filedata AND NOT VANTREL_FUZZ)
  foreach(case fresh-client second-person)
    add_test(NAME first_hour_${case}
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/first_hour_test.sh ${case} ${CMAKE_BINARY_DIR})
    set_tests_properties(first_hour_${case} PROPERTIES TIMEOUT 90)
  endforeach()
endif()

# The window on a real X server (Xvfb) with a window manager (openbox), driven
# with xdotool: the tray note once per settings, the place kept, Ctrl+Q.
if(VANTREL_TEST_DESKTOP AND TARGET vantrel_ui AND TARGET vantrel-server AND TARGET filedata AND NOT VANTREL_FUZZ)
  add_test(NAME window_on_a_desktop
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/window_xvfb_test.sh ${CMAKE_BINARY_DIR}
                   ${CMAKE_BINARY_DIR}/ui-screenshots)
  set_tests_properties(window_on_a_desktop PROPERTIES TIMEOUT 120)
endif()

# Port mapping on a real home router (miniupnpd) in network namespaces of the
# test's own: needs root, and says so and skips (77) where namespaces cannot be made.
if(TARGET vantreld AND TARGET vantrel-server AND TARGET filedata AND NOT VANTREL_FUZZ)
  add_test(NAME port_mapping_netns
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/port_mapping_netns_test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(port_mapping_netns PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 180)
endif()
