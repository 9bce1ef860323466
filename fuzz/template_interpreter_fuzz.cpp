// SPDX-License-Identifier: MIT
// Runs the "start" template of any file that parses, with a small step budget
// and small string and page bounds, against providers and alternate outputs
// that answer every name.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "templates/output_sink.h"
#include "templates/sample_providers.h"
#include "templates/template_interpreter.h"
#include "templates/template_parser.h"

namespace {

using namespace vantrel::templates;

class AnyOutputs : public AlternateOutputs {
 public:
  std::unique_ptr<OutputSink> Open(std::string_view name, OutputSink&, TemplateArgs) override {
    if (name.size() % 2 == 1) return nullptr;
    return std::make_unique<PageBuffer>(size_t{1} << 16);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TemplateSet set;
  ParseTemplateFile(text, set, [](std::string_view) {});
  const Template* start = set.find("start");
  if (start == nullptr) return 0;

  TableProvider env;
  env.set("number", TemplateValue::integer(42));
  env.set("text", TemplateValue::string("some text"));
  TableProvider& child = env.child("child");
  child.set("real", TemplateValue::real(2.5));
  child.child("grandchild").set("x", TemplateValue::string(""));
  AnyOutputs outputs;

  RunLimits limits;
  limits.maxSteps = 20000;
  limits.maxStringLength = size_t{1} << 16;
  limits.stringWorkBudget = size_t{1} << 20;
  limits.maxStackSlots = size_t{1} << 14;
  PageBuffer page(size_t{1} << 20);
  RunTemplate(*start, &env, page, &outputs, limits);
  if (page.page().size() > (size_t{1} << 20) + PageBuffer::kFullMessage.size()) std::abort();
  return 0;
}
