# SPDX-License-Identifier: MIT
# Helpers that every folder uses to declare libraries, tests, fuzz targets and
# benchmarks, so that warnings, sanitizers and test registration stay uniform.

# Warnings stop the build only where we ask for it (the presets and CI): a
# packager's compiler, flags or optimisation level may warn where ours do not,
# and must still get a build.
set(VANTREL_WARNINGS -Wall -Wextra -Werror=switch -Wno-missing-field-initializers)
if(VANTREL_WERROR)
  list(APPEND VANTREL_WARNINGS -Werror)
endif()

set(VANTREL_SOURCE_ROOT ${PROJECT_SOURCE_DIR}/src)
add_library(vantrel_options INTERFACE)
target_compile_options(vantrel_options INTERFACE ${VANTREL_WARNINGS})
target_link_libraries(vantrel_options INTERFACE Threads::Threads)
if(VANTREL_SANITIZE)
  set(_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_compile_options(vantrel_options INTERFACE ${_san})
  target_link_options(vantrel_options INTERFACE ${_san})
endif()
if(VANTREL_FUZZ)
  # Everything linked into a fuzz target carries coverage instrumentation.
  target_compile_options(vantrel_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined)
  target_link_options(vantrel_options INTERFACE -fsanitize=address,undefined)
endif()

# vantrel_headers(TARGET [FOLDER dir])
# Each library sees only the folders it links. A library's headers are reached
# through an include root of its own, build/include/TARGET, that holds links to
# the headers of its folder (and its testing/ fakes) under the path they are
# included by ("core/log.h", "server/store/account_store.h"); the root is PUBLIC,
# so whoever links the library sees its folder and nobody else does. An include
# of a folder that is not linked fails to compile. Sub-folders with a
# CMakeLists.txt of their own are libraries of their own and are left out.
function(vantrel_headers target)
  cmake_parse_arguments(ARG "RECURSIVE" "FOLDER" "" ${ARGN})
  set(folder ${CMAKE_CURRENT_SOURCE_DIR})
  if(ARG_FOLDER)
    set(folder ${ARG_FOLDER})
  endif()
  cmake_path(IS_PREFIX VANTREL_SOURCE_ROOT "${folder}" NORMALIZE under_src)
  if(under_src)
    file(RELATIVE_PATH rel ${VANTREL_SOURCE_ROOT} ${folder})
  else()
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${folder})
  endif()
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  if(ARG_RECURSIVE)
    file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${folder} ${folder}/*.h)
  else()
    file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${folder} ${folder}/*.h ${folder}/testing/*.h)
  endif()
  foreach(h IN LISTS headers)
    get_filename_component(dir ${root}/${rel}/${h} DIRECTORY)
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK ${folder}/${h} ${root}/${rel}/${h} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${root}>)
endfunction()

# vantrel_library(NAME SOURCES a.cpp ... DEPS other ... [FOLDER dir] [RECURSIVE])
# Declares the static library vantrel_NAME for one subsystem, seen by its
# dependents through its own include root (vantrel_headers).
function(vantrel_library name)
  cmake_parse_arguments(ARG "RECURSIVE" "FOLDER" "SOURCES;DEPS" ${ARGN})
  add_library(vantrel_${name} STATIC ${ARG_SOURCES})
  target_link_libraries(vantrel_${name} PUBLIC vantrel_options ${ARG_DEPS})
  set(where "")
  if(ARG_FOLDER)
    set(where FOLDER ${ARG_FOLDER})
  endif()
  if(ARG_RECURSIVE)
    list(APPEND where RECURSIVE)
  endif()
  vantrel_headers(vantrel_${name} ${where})
endfunction()

# vantrel_test(NAME SOURCES a_test.cpp ... DEPS lib ...)
# A GoogleTest binary registered with ctest, one ctest entry per test case.
function(vantrel_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(VANTREL_FUZZ)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE vantrel_options ${ARG_DEPS} vantrel_test_support GTest::gtest GTest::gtest_main
                        GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 300)
endfunction()

# vantrel_fuzz(NAME SOURCE target.cpp DEPS lib ...)
# A fuzz target defines LLVMFuzzerTestOneInput. In an ordinary build it links a
# small driver that replays the seed corpus fuzz/corpus/NAME as a ctest test; in a
# fuzz build (clang, VANTREL_FUZZ) it becomes a libFuzzer binary.
function(vantrel_fuzz name)
  cmake_parse_arguments(ARG "" "" "SOURCE;DEPS" ${ARGN})
  set(corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
  add_executable(fuzz_${name} ${ARG_SOURCE})
  target_link_libraries(fuzz_${name} PRIVATE vantrel_options ${ARG_DEPS})
  # One target that builds every fuzzer, so a fuzz build need not build the programs.
  if(NOT TARGET fuzz_targets)
    add_custom_target(fuzz_targets)
  endif()
  add_dependencies(fuzz_targets fuzz_${name})
  if(VANTREL_FUZZ)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    add_test(NAME fuzz_replay.${name} COMMAND fuzz_${name} -runs=0 ${corpus})
  else()
    target_sources(fuzz_${name} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
    add_test(NAME fuzz_replay.${name} COMMAND fuzz_${name} ${corpus})
  endif()
  set_tests_properties(fuzz_replay.${name} PROPERTIES TIMEOUT 300)
endfunction()

# vantrel_bench(NAME SOURCES a.cpp ... DEPS lib ...)
function(vantrel_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT VANTREL_BENCH OR VANTREL_FUZZ)
    return()
  endif()
  add_executable(bench_${name} ${ARG_SOURCES})
  target_link_libraries(bench_${name} PRIVATE vantrel_options ${ARG_DEPS} benchmark::benchmark benchmark::benchmark_main)
endfunction()
