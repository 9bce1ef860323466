vantrel_bench(base64 SOURCES base64_bench.cpp DEPS vantrel_core)
vantrel_bench(core_archive SOURCES core_archive_bench.cpp DEPS vantrel_core)
