// SPDX-License-Identifier: MIT
// The "get_fileids" and "add_file" replies.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "protocol/shared_file_requests.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  (void)vantrel::parseFileIds(reply);
  std::vector<vantrel::FileRegistration> files(3);
  (void)vantrel::readAddedIds(reply, files);
  for (const auto& f : files) {
    if (f.fileId < 0) __builtin_trap();
  }
  return 0;
}
