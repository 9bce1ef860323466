# SPDX-License-Identifier: MIT
# The all-shared-files page for 10,000 shared files, template parse included.
if(TARGET vantrel_providers)
  vantrel_bench(providers SOURCES providers_bench.cpp DEPS vantrel_providers)
  if(TARGET bench_providers)
    target_compile_definitions(bench_providers PRIVATE VANTREL_PAGES_DIR="${PROJECT_SOURCE_DIR}/pages/filedata")
  endif()
endif()
