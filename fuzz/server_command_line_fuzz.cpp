// SPDX-License-Identifier: MIT
// The operator's command lines: the first byte picks what reads the rest.
//   'L' a listening address (IPv4, IPv6, bracketed IPv6), read and printed back
//   'A' the arguments of "vantrel-server admin" after "--db FILE", separated
//       by NUL bytes, with standard input after the last NUL of "\0\0"
//   'U' the text of a users file (--add-user-file)
// The admin commands run against one scratch database made for the process.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "server/admin/admin_command.h"
#include "server/http/socket_address.h"

namespace {

struct Scratch {
  Scratch() {
    dir = std::filesystem::temp_directory_path() / ("vantrel-admin-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::filesystem::path dir;
};

void runAdminLine(std::string_view input) {
  static Scratch scratch;
  std::string stdinText;
  if (const size_t end = input.find(std::string_view("\0\0", 2)); end != std::string_view::npos) {
    stdinText = std::string(input.substr(end + 2));
    input = input.substr(0, end);
  }
  std::vector<std::string> args = {"--db", (scratch.dir / "s.db").string()};
  size_t from = 0;
  while (from <= input.size() && args.size() < 16) {
    const size_t nul = input.find('\0', from);
    args.emplace_back(input.substr(from, nul == std::string_view::npos ? std::string_view::npos : nul - from));
    if (nul == std::string_view::npos) break;
    from = nul + 1;
  }
  // --password-file would read whatever path the input names.
  for (const auto& a : args) {
    if (a == "--password-file") return;
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::FILE* in = ::fmemopen(stdinText.empty() ? nullptr : stdinText.data(), stdinText.empty() ? 1 : stdinText.size(),
                             "r");
  std::FILE* sink = std::fopen("/dev/null", "w");
  if (in != nullptr && sink != nullptr) {
    vantrel::server::runAdmin(static_cast<int>(argv.size()), argv.data(), in, sink, sink);
  }
  if (in != nullptr) std::fclose(in);
  if (sink != nullptr) std::fclose(sink);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] == 'L') {
    if (const auto address = vantrel::server::listenAddress(std::string(input), 7001)) {
      const std::string text = vantrel::server::addressText(*address);
      if (text.empty() || vantrel::server::portOf(*address) != 7001) std::abort();
    }
  } else if (data[0] == 'A') {
    runAdminLine(input);
  } else if (data[0] == 'U') {
    std::vector<std::pair<std::string, std::string>> users;
    std::string error;
    const bool ok = vantrel::server::parseUsersText(input, users, error);
    // Every account came from a line with a ":", and a refusal says why.
    if (!ok && error.empty()) std::abort();
    for (const auto& [name, password] : users) {
      if (name.find('\n') != std::string::npos || password.find('\n') != std::string::npos) std::abort();
    }
  }
  return 0;
}
