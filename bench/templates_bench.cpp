// SPDX-License-Identifier: MIT
// Template language: parsing a large file, a loop-heavy template, and a large
// page written in small pieces.
#include <benchmark/benchmark.h>

#include <string>

#include "templates/output_sink.h"
#include "templates/template_interpreter.h"
#include "templates/template_parser.h"

namespace {

using namespace vantrel::templates;

// A file of many templates that use every kind of statement, about `bytes` long.
std::string largeFile(size_t bytes) {
  std::string file = "<# start; tmpl.t0(1, 'a'); endtmpl #>\n";
  for (int n = 0; file.size() < bytes; ++n) {
    std::string name = "t";
    name += std::to_string(n);
    file += "<# " + name + "(a, b) #>\n<table>\n\t<tr><td>";
    file += "<# x := a * 2 + 0x1F - (b $ 'text') / 3; y := substr('abcdef', 1, 3) $ env.client.name(a, b); #>";
    file += "</td></tr>\n<# if x > 3 && y != 'z'; 'big'; elseif x = 3; 'three'; else; 'small'; endif; "
            "i := 0; while i < 10, i++; if i % 2 = 0; continue; endif; tmpl.other(i); endwhile; #>\n";
    file += "<p>Some page text that a designer wrote around the code.</p>\n<# endtmpl #>\n";
  }
  return file;
}

void BM_ParseOneMiBFile(benchmark::State& state) {
  const std::string file = largeFile(size_t{1} << 20);
  for (auto _ : state) {
    TemplateSet set;
    const bool ok = ParseTemplateFile(file, set, [](std::string_view) {});
    if (!ok) state.SkipWithError("the file did not parse");
    benchmark::DoNotOptimize(set.size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_ParseOneMiBFile)->Unit(benchmark::kMillisecond);

void runStart(benchmark::State& state, const std::string& file) {
  TemplateSet set;
  if (!ParseTemplateFile(file, set, [](std::string_view) {})) {
    state.SkipWithError("the template did not parse");
    return;
  }
  const Template& start = *set.find("start");
  for (auto _ : state) {
    PageBuffer page;
    RunTemplate(start, nullptr, page, nullptr);
    benchmark::DoNotOptimize(page.page().data());
  }
}

// 1,000,000 passes of integer arithmetic; the same loop as bench/templates_vs_lua.
void BM_NestedLoops(benchmark::State& state) {
  runStart(state,
           "<# start; x := 0; i := 0; while i < 1000, i++; j := 0; while j < 1000, j++; "
           "x := x + i * j; endwhile; endwhile; endtmpl #>");
}
BENCHMARK(BM_NestedLoops)->Unit(benchmark::kMillisecond);

// A page of range(0) MiB written 64 bytes at a time: the time per byte must not grow.
void BM_PageIn64BytePieces(benchmark::State& state) {
  const int64_t pieces = state.range(0) * (int64_t{1} << 20) / 64;
  const int64_t inner = (pieces + 999) / 1000;
  const std::string piece(64, 'p');
  runStart(state, "<# start; i := 0; while i < 1000, i++; j := 0; while j < " + std::to_string(inner) +
                      ", j++; '" + piece + "'; endwhile; endwhile; endtmpl #>");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1000 * inner * 64);
}
BENCHMARK(BM_PageIn64BytePieces)->Arg(1)->Arg(2)->Arg(5)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace
