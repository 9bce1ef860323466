// SPDX-License-Identifier: MIT
// The part header line of a "sendfile" upload that names the uploaded file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fileserver/commands/upload_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const std::string name = vantrel::uploadFileName(line);
  if (name.size() > line.size() || name.find('/') != std::string::npos) std::abort();
  return 0;
}
