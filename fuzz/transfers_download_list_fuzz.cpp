// SPDX-License-Identifier: MIT
// The saved download list as the download manager reads it back: whatever it
// reads must write out and read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "transfers/download_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<vantrel::SavedDownload> list;
  if (!vantrel::decodeDownloadList(text, list)) return 0;
  std::vector<vantrel::SavedDownload> again;
  if (!vantrel::decodeDownloadList(vantrel::encodeDownloadList(list), again) || again != list) std::abort();
  return 0;
}
