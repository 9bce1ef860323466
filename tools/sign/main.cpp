// SPDX-License-Identifier: MIT
// vantrel-sign-update: signs the files of a client update folder, so that the
// launcher installs them, and makes and shows the keys it signs with.

#include <cstdio>
#include <string>
#include <string_view>

#include "launcher/update/update_signature.h"

using namespace vantrel;

namespace {

constexpr int kExitUsage = 64;
constexpr int kExitFailed = 1;

void usage(std::FILE* out) {
  std::fprintf(out,
               "usage: vantrel-sign-update --key PRIVATE.pem DIR   sign every file of DIR into DIR/update.sig\n"
               "       vantrel-sign-update --new-key PRIVATE.pem  make a new key; prints its public key\n"
               "       vantrel-sign-update --public-key PRIVATE.pem\n"
               "The public key (64 hex digits) is built into the programs with\n"
               "cmake -DVANTREL_UPDATE_PUBLIC_KEY=...; vantrel-server --update-dir DIR serves the signed folder.\n");
}

int failed(const std::string& error) {
  std::fprintf(stderr, "vantrel-sign-update: %s\n", error.c_str());
  return kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view command = argc > 1 ? argv[1] : "";
  std::string error, publicHex;
  if ((command == "--help" || command == "-h") && argc == 2) {
    usage(stdout);
    return 0;
  }
  if (command == "--key" && argc == 4) {
    std::size_t count = 0;
    if (!signUpdateFolder(argv[3], argv[2], count, error)) return failed(error);
    std::printf("signed %zu files into %s/%s\n", count, argv[3], std::string(update_signature::kFileName).c_str());
    return 0;
  }
  if (command == "--new-key" && argc == 3) {
    if (!generateSigningKey(argv[2], publicHex, error)) return failed(error);
    std::printf("%s\n", publicHex.c_str());
    return 0;
  }
  if (command == "--public-key" && argc == 3) {
    if (!signingKeyPublicHex(argv[2], publicHex, error)) return failed(error);
    std::printf("%s\n", publicHex.c_str());
    return 0;
  }
  usage(stderr);
  return kExitUsage;
}
