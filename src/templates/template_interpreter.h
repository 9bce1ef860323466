// SPDX-License-Identifier: MIT
#pragma once
// The template interpreter: runs a parsed template against a data provider
// and writes the page to an output sink. Run-time errors are messages written
// into the page where they happen; the run goes on after them, except where a
// message says the run stops (call depth, page and string bounds).
//
// The template, its set, the provider and the sinks must outlive the call. A
// run uses only the calling thread and at most kRenderStackBytes of its stack.

#include <cstddef>
#include <cstdint>

#include "templates/data_provider.h"
#include "templates/output_sink.h"
#include "templates/template_limits.h"
#include "templates/template_tree.h"

namespace vantrel::templates {

struct RunLimits {
  // Statements and loop passes one run may take; 0 for no bound beyond the
  // language's own (loop budget and call depth). Fuzzing sets a small one.
  uint64_t maxSteps = 0;
  size_t maxStringLength = kMaxStringLength;
  size_t stringWorkBudget = kStringWorkBudget;
  size_t maxStackSlots = size_t{1} << 20;
};

// Run-time messages that are not the language's own: the bounds above.
inline constexpr const char* kStringTooLong = " string too long ";
inline constexpr const char* kStringBudgetSpent = " string memory limit reached ";
inline constexpr const char* kStepLimitReached = " step limit reached ";
inline constexpr const char* kStackLimitReached = " value stack limit reached ";
inline constexpr const char* kDivisionByZero = " division by zero ";

// Runs t with no arguments. env and alternates may be nullptr.
void RunTemplate(const Template& t, DataProvider* env, OutputSink& out, AlternateOutputs* alternates,
                 const RunLimits& limits = {});

}  // namespace vantrel::templates
