// SPDX-License-Identifier: MIT
// A whole request as the file server reads it: request line, header block up to
// the empty line, then a form body; and the same head cut into lines as the
// connection's head reader hands them out.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fileserver/request_params.h"
#include "fileserver/request_reader.h"
#include "fileserver/token_check.h"
#include "net/head_reader.h"

namespace {

class XorCipher : public vantrel::ParameterCipher {
 public:
  std::string decryptText(std::string_view cipher) const override {
    std::string out(cipher);
    for (auto& c : out) c = static_cast<char>(c ^ 0x5A);
    return out;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t lineEnd = input.find("\r\n");
  const std::string_view line = input.substr(0, lineEnd);
  const std::string_view rest = lineEnd == std::string_view::npos ? std::string_view() : input.substr(lineEnd + 2);
  const std::size_t blockEnd = rest.find("\r\n\r\n");
  const std::string_view block = rest.substr(0, blockEnd == std::string_view::npos ? rest.size() : blockEnd + 2);
  const std::string_view body = blockEnd == std::string_view::npos ? std::string_view() : rest.substr(blockEnd + 4);

  XorCipher cipher;
  RequestParams params;
  addHeaderParams(block, params);
  const auto headers = headerLines(block);
  std::size_t start = 0;
  while (start < block.size()) {
    const std::size_t end = std::min(block.find('\n', start), block.size() - 1);
    const std::string_view one = block.substr(start, end - start + 1);
    isOwnClientUserAgent(one);
    contentLengthOf(one, 1 << 20);
    start = end + 1;
  }
  if (const auto request = splitRequestLine(line)) {
    if (const auto parts = splitUrl(request->url)) {
      if (parts->query) parseQueryString(*parts->query, params, &cipher);
    }
  }
  parseQueryString(body, params, &cipher);

  const TrustedHosts trusted{{"127.0.0.1", "192.168.1.5"}, "myhost", "central.example:80"};
  browserMayDrive(headers, trusted);
  const RequesterAddresses plain{"10.0.0.9", "192.168.1.5", std::nullopt};
  const RequesterAddresses behindNat{"192.168.1.9", "192.168.1.5", std::string("80.1.1.1")};
  for (const auto* a : {&plain, &behindNat}) {
    checkCommandToken(params.first("token"), *a);
    checkDownloadToken(params.first("token"), *a, 7);
  }

  // Every line is a non-empty prefix of what is left, within the buffer.
  const std::size_t lineBytes = size == 0 ? 2 : 2 + data[0] % 64;
  for (std::string_view pending = input; !pending.empty();) {
    const std::string_view next = nextHeadLine(pending, lineBytes);
    if (next.empty() || next.size() > lineBytes - 1 || pending.substr(0, next.size()) != next) __builtin_trap();
    pending.remove_prefix(next.size());
  }
  return 0;
}
