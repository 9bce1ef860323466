vantrel_bench(base64 SOURCES base64_bench.cpp DEPS vantrel_core)
