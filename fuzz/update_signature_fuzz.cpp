// SPDX-License-Identifier: MIT
// The signature file of a client update, as downloaded: any bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "launcher/update/update_signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  vantrel::UpdateManifest manifest;
  std::string error;
  if (!vantrel::parseUpdateManifest(text, manifest, error)) return 0;
  // Whatever is accepted names only plain files, each once, and the signed
  // text is what the accepted lines say.
  for (const vantrel::SignedFile& file : manifest.files) {
    if (!vantrel::plainUpdateName(file.name) || file.name.find('/') != std::string::npos) __builtin_trap();
    if (file.mode != 0644 && file.mode != 0755) __builtin_trap();
  }
  if (vantrel::manifestSignedText(manifest.files) != manifest.signedText) __builtin_trap();
  vantrel::PublicKey key{};
  vantrel::signatureMatches(manifest, key);
  return 0;
}
