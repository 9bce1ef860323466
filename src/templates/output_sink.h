// SPDX-License-Identifier: MIT
#pragma once
// OutputSink: where a rendering writes page bytes. PageBuffer is the sink of a
// whole page: it keeps every byte in order, grows by doubling so that many
// small writes cost linear time, and refuses to grow past its limit.
//
// A sink belongs to the one rendering that writes to it.

#include <cstddef>
#include <string>
#include <string_view>

#include "templates/template_limits.h"

namespace vantrel::templates {

class OutputSink {
 public:
  virtual ~OutputSink() = default;

  // Appends the bytes. Returns false when the sink is full and took nothing
  // more; the rendering then stops.
  virtual bool Write(std::string_view bytes) = 0;
};

class PageBuffer : public OutputSink {
 public:
  // Written once, in place of the write that would pass the limit.
  static constexpr std::string_view kFullMessage = " page size limit reached ";

  explicit PageBuffer(size_t limit = kMaxPageLength) : m_limit(limit) {}

  bool Write(std::string_view bytes) override;

  const std::string& page() const { return m_page; }
  std::string take() { return std::move(m_page); }
  bool full() const { return m_full; }

 private:
  std::string m_page;
  size_t m_limit;
  bool m_full = false;
};

// A sink that drops everything it is given; for code that must run without
// a page.
class NullSink : public OutputSink {
 public:
  bool Write(std::string_view) override { return true; }
};

}  // namespace vantrel::templates
