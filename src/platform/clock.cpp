// SPDX-License-Identifier: MIT
#include "platform/clock.h"

#include <chrono>

namespace vantrel {
namespace {

std::string format(int64_t when, const char* fmt, bool local) {
  if (fmt == nullptr || *fmt == '\0') return {};
  std::time_t t = static_cast<std::time_t>(when);
  std::tm tm{};
  if ((local ? ::localtime_r(&t, &tm) : ::gmtime_r(&t, &tm)) == nullptr) return {};
  char buf[256];
  size_t n = std::strftime(buf, sizeof buf, fmt, &tm);
  return std::string(buf, n);
}

}  // namespace

int64_t tickMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t unixTimeNow() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

std::string formatLocalTime(int64_t when, const char* fmt) { return format(when, fmt, true); }
std::string formatUtcTime(int64_t when, const char* fmt) { return format(when, fmt, false); }

}  // namespace vantrel
