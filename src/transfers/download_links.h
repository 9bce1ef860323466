// SPDX-License-Identifier: MIT
#pragma once
// A fresh download link for a file of the catalogue: "getlisting" of one file
// ID. The link carries a token the sharer's client made at its last login and
// the address it has now, so a download that is tried again asks for a new
// one instead of reusing a link from before the sharer came back. Any thread.

#include <cstdint>
#include <string>

#include "protocol/protocol_context.h"

namespace vantrel {

struct FileLink {
  static constexpr int kNotFound = 506;  // the server knows no such file (any more)
  int code = 0;            // 0, kNotFound, or the transport or server code
  std::string url;         // "" when the person may not download it or the sharer is away
  bool online = false;     // the sharer's client is logged in
  int32_t ownerId = 0;
  std::string name;   // as the catalogue lists it
  int64_t size = 0;
};

FileLink fetchFileLink(ProtocolContext& ctx, int32_t fileId);

}  // namespace vantrel
