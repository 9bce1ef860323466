# SPDX-License-Identifier: MIT
# The template language; templates_vs_lua.sh compares the loop benchmark with Lua.
vantrel_bench(templates SOURCES templates_bench.cpp DEPS vantrel_templates)
