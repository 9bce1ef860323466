# SPDX-License-Identifier: MIT
# The programs that suites of tests need beyond the compiler and libraries.
# A suite whose program is missing stops the configuration with the reason;
# only its option, given on purpose, leaves the suite out. No test is skipped
# without a word because this machine lacks something.
option(VANTREL_TEST_POSTGRES "Run the server's tests on PostgreSQL too (needs a PostgreSQL server)" ON)
option(VANTREL_TEST_BROWSER "Run the page tests in Chromium (needs chromium and node)" ON)
option(VANTREL_TEST_DESKTOP "Run the window on a real X server (needs Xvfb, openbox, xdotool, ImageMagick)" ON)
option(VANTREL_TEST_CLUSTER "Run the cluster of PostgreSQL primary, standby, haproxy and server hosts (needs PostgreSQL and haproxy)" ON)
option(VANTREL_TEST_PACKAGE "Build and check the Debian package (needs dpkg-dev, desktop-file-utils, appstream)" ON)

# Stops the configuration: `what` is missing for the suite that `option` turns on.
function(vantrel_missing_tool option what packages)
  message(FATAL_ERROR
    "${what} is missing, and the tests that need it are on (${option}).\n"
    "Install it (apt-get install ${packages}; scripts/install-deps installs everything the tests need), "
    "or configure with -D${option}=OFF to leave those tests out.")
endfunction()

# find_program for each name into VANTREL_TOOL_<NAME>, or stop the configuration.
function(vantrel_require_programs option packages)
  foreach(program ${ARGN})
    string(TOUPPER "${program}" var)
    string(REPLACE "-" "_" var "VANTREL_TOOL_${var}")
    find_program(${var} ${program})
    if(NOT ${var})
      vantrel_missing_tool(${option} "The program ${program}" "${packages}")
    endif()
  endforeach()
endfunction()

# The fuzz build runs only its fuzz targets, and tests nothing else.
if(NOT VANTREL_FUZZ)
  if(VANTREL_TEST_POSTGRES)
    file(GLOB VANTREL_POSTGRES_INITDB /usr/lib/postgresql/*/bin/initdb)
    if(NOT VANTREL_POSTGRES_INITDB)
      vantrel_missing_tool(VANTREL_TEST_POSTGRES "A PostgreSQL server (/usr/lib/postgresql/*/bin/initdb)"
                           "postgresql-15")
    endif()
  endif()
  if(VANTREL_TEST_CLUSTER)
    file(GLOB VANTREL_POSTGRES_BASEBACKUP /usr/lib/postgresql/*/bin/pg_basebackup)
    if(NOT VANTREL_POSTGRES_BASEBACKUP)
      vantrel_missing_tool(VANTREL_TEST_CLUSTER "A PostgreSQL server (/usr/lib/postgresql/*/bin/pg_basebackup)"
                           "postgresql-15")
    endif()
    vantrel_require_programs(VANTREL_TEST_CLUSTER "haproxy" haproxy)
  endif()
  if(VANTREL_TEST_BROWSER)
    vantrel_require_programs(VANTREL_TEST_BROWSER "chromium nodejs" chromium node)
  endif()
  if(VANTREL_TEST_DESKTOP AND VANTREL_QT)
    vantrel_require_programs(VANTREL_TEST_DESKTOP "xvfb openbox xdotool imagemagick" Xvfb openbox xdotool import)
  endif()
  # The sanitizer build packages nothing.
  if(VANTREL_TEST_PACKAGE AND NOT VANTREL_SANITIZE)
    vantrel_require_programs(VANTREL_TEST_PACKAGE "dpkg-dev desktop-file-utils appstream"
                             dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli)
  endif()
endif()
