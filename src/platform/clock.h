// SPDX-License-Identifier: MIT
#pragma once
// Time for the client: a millisecond tick that never goes backwards (for
// intervals, time-outs and rates) and calendar helpers (for log lines and
// file dates). Thread-safe: no state.

#include <cstdint>
#include <ctime>
#include <string>

namespace vantrel {

// Milliseconds of the monotonic clock since an arbitrary start. Unlike the
// 32-bit tick of old, it does not wrap.
int64_t tickMs();

// Seconds since 1970-01-01 UTC.
int64_t unixTimeNow();

// strftime of `when` in local time (or UTC); "" when the format yields nothing
// or the time cannot be represented.
std::string formatLocalTime(int64_t when, const char* format);
std::string formatUtcTime(int64_t when, const char* format);

}  // namespace vantrel
