// SPDX-License-Identifier: MIT
#pragma once
// The signature of a client update. An update is the files of one folder and
// the signature file "update.sig" beside them, which the launcher checks
// before it installs anything: the files' names, sizes, modes and SHA-256
// digests, signed together with Ed25519 by the publisher's private key. The
// program carries only the public key.
//
// The signature file is text, one item per line ending in "\n":
//   vantrel-update-signature 1
//   file <sha256 hex> <size> <mode 644|755> <name>      (one line per file)
//   signature <Base64 of the 64-byte Ed25519 signature>
// The signature covers every byte before the "signature" line. Names are plain
// file names (letters, digits, ".", "_", "-", not starting with "."), each at
// most once, never the signature file's own name.
//
// Stateless functions; thread-safe.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

namespace update_signature {
inline constexpr std::string_view kFileName = "update.sig";
inline constexpr std::string_view kHeader = "vantrel-update-signature 1\n";
inline constexpr std::size_t kPublicKeyBytes = 32;
inline constexpr std::size_t kSignatureBytes = 64;
inline constexpr std::size_t kMaxFileBytes = 64 * 1024;  // of the signature file
inline constexpr std::size_t kMaxFiles = 256;
inline constexpr std::size_t kMaxNameLength = 100;
}  // namespace update_signature

using PublicKey = std::array<unsigned char, update_signature::kPublicKeyBytes>;

struct SignedFile {
  std::string name;
  std::string sha256;  // 32 raw bytes
  std::uint64_t size = 0;
  unsigned mode = 0644;  // 0644 or 0755
};

struct UpdateManifest {
  std::vector<SignedFile> files;
  std::string signedText;  // the bytes the signature covers
  std::string signature;   // 64 raw bytes
};

// Reads a signature file; false with the reason in `error` when it is not one.
bool parseUpdateManifest(std::string_view text, UpdateManifest& manifest, std::string& error);
// The text that a signature covers, for the files in the order given.
std::string manifestSignedText(const std::vector<SignedFile>& files);

// Whether the manifest's signature checks against the public key.
bool signatureMatches(const UpdateManifest& manifest, const PublicKey& key);

// A public key from its 64 hex digits; false when the text is not one.
bool parsePublicKey(std::string_view hex, PublicKey& key);

// True for a name that may be part of an update.
bool plainUpdateName(std::string_view name);

// Writes a new Ed25519 private key (PEM, mode 0600) to `privateKeyFile`, which
// must not exist yet, and returns its public key as 64 hex digits in
// `publicHex`. False with the reason in `error`.
bool generateSigningKey(const std::filesystem::path& privateKeyFile, std::string& publicHex, std::string& error);
// The public key (64 hex digits) of a PEM private key file.
bool signingKeyPublicHex(const std::filesystem::path& privateKeyFile, std::string& publicHex, std::string& error);
// Signs every plain regular file of `folder` (the signature file excepted)
// and writes the signature file into it crash-safely. `signed_` receives the
// number of files signed.
bool signUpdateFolder(const std::filesystem::path& folder, const std::filesystem::path& privateKeyFile,
                      std::size_t& signedFiles, std::string& error);

}  // namespace vantrel
