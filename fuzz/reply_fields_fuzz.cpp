// SPDX-License-Identifier: MIT
// Central-server replies through the field readers: any bytes, any field name.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "net/reply_fields.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  for (std::string_view name : {"result=", "clientid=", "checksum=", "ip=", "=", "&"}) {
    (void)vantrel::ReplyNumber(reply, name);
    (void)vantrel::ReplyText(reply, name, 100);
    (void)vantrel::ReplyText(reply, name, 0);
  }
  return 0;
}
