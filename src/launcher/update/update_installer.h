// SPDX-License-Identifier: MIT
#pragma once
// Installs a downloaded client update: the files that the client left in the
// program's update folder go into the program folder only when the update's
// signature file checks against the public key built into the program and
// every file it names arrived whole, byte for byte. Otherwise nothing of the
// program changes and the reason is returned for the user.
//
// Each file is copied to a temporary name in the program folder while its
// digest is taken from the very bytes copied; only when every file has been
// copied and checked are they renamed over the old ones, so a refused or
// failed update never leaves a mix of old and new files behind.
//
// Stateless; one install at a time per program folder (the launcher runs once).

#include <filesystem>
#include <string>

#include "launcher/update/update_signature.h"

namespace vantrel {

namespace install {
inline constexpr int kOk = 0;
inline constexpr int kNoSignature = 1;      // the signature file is missing
inline constexpr int kMalformed = 2;        // the signature file is not one
inline constexpr int kBadSignature = 3;     // the signature does not check against the key
inline constexpr int kFileMissing = 4;      // a signed file did not arrive
inline constexpr int kFileDiffers = 5;      // a file is not the one that was signed
inline constexpr int kWriteFailed = 6;      // the program folder could not take the files
}  // namespace install

struct InstallResult {
  int code = install::kOk;
  std::string reason;  // for the user; empty on success
  std::size_t installed = 0;
};

// The folder, inside the program folder, that the client downloads into.
inline constexpr std::string_view kUpdateFolderName = "update";

// Checks and installs the update in `updateDir` into `programDir`.
InstallResult installSignedUpdate(const std::filesystem::path& updateDir, const std::filesystem::path& programDir,
                                  const PublicKey& key);

// Removes the downloaded files and the update folder (after any outcome).
void removeUpdateFolder(const std::filesystem::path& updateDir);

}  // namespace vantrel
