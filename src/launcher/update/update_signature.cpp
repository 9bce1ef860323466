// SPDX-License-Identifier: MIT
#include "launcher/update/update_signature.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <system_error>

#include "core/base64.h"
#include "core/text_codecs.h"
#include "platform/durable_file.h"
#include "platform/unique_fd.h"

namespace vantrel {
namespace {

using namespace update_signature;

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

constexpr std::string_view kFileTag = "file ";
constexpr std::string_view kSignatureTag = "signature ";

// A decimal number without sign or leading zeros, as written.
bool parseDecimal(std::string_view text, std::uint64_t& value) {
  if (text.empty() || text.size() > 19 || (text.size() > 1 && text.front() == '0')) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

// "<sha256 hex> <size> <mode> <name>"
bool parseFileLine(std::string_view line, SignedFile& file) {
  std::string_view parts[4];
  for (int i = 0; i < 3; ++i) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return false;
    parts[i] = line.substr(0, space);
    line.remove_prefix(space + 1);
  }
  parts[3] = line;
  if (parts[0].size() != 64 || !hexDecode(parts[0], file.sha256, HexLetters::kLowerOnly)) return false;
  if (!parseDecimal(parts[1], file.size)) return false;
  if (parts[2] == "644") {
    file.mode = 0644;
  } else if (parts[2] == "755") {
    file.mode = 0755;
  } else {
    return false;
  }
  if (!plainUpdateName(parts[3]) || parts[3] == kFileName) return false;
  file.name = parts[3];
  return true;
}

bool fail(std::string& error, std::string text) {
  error = std::move(text);
  return false;
}

std::string opensslReason(const char* what) { return std::string(what) + " failed in the crypto library"; }

Pkey readPrivateKey(const std::filesystem::path& file, std::string& error) {
  std::FILE* in = std::fopen(file.c_str(), "rb");
  if (in == nullptr) {
    error = "cannot open the private key " + file.string();
    return nullptr;
  }
  Pkey key(PEM_read_PrivateKey(in, nullptr, nullptr, nullptr));
  std::fclose(in);
  if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
    error = file.string() + " is not an Ed25519 private key in PEM";
    return nullptr;
  }
  return key;
}

bool publicHexOf(EVP_PKEY* key, std::string& publicHex, std::string& error) {
  unsigned char raw[kPublicKeyBytes];
  std::size_t length = sizeof raw;
  if (EVP_PKEY_get_raw_public_key(key, raw, &length) != 1 || length != sizeof raw) {
    return fail(error, opensslReason("reading the public key"));
  }
  publicHex = hexEncode(std::string_view(reinterpret_cast<const char*>(raw), length));
  return true;
}

// The SHA-256 digest and size of a file, read without following a link.
bool digestFile(const std::filesystem::path& path, std::string& digest, std::uint64_t& size, std::string& error) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return fail(error, "cannot read " + path.string());
  MdCtx ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return fail(error, opensslReason("SHA-256"));
  size = 0;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(error, "cannot read " + path.string());
    if (n == 0) break;
    EVP_DigestUpdate(ctx.get(), buf, static_cast<std::size_t>(n));
    size += static_cast<std::uint64_t>(n);
  }
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), out, &length) != 1) return fail(error, opensslReason("SHA-256"));
  digest.assign(reinterpret_cast<const char*>(out), length);
  return true;
}

}  // namespace

bool plainUpdateName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength || name.front() == '.') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
  });
}

bool parsePublicKey(std::string_view hex, PublicKey& key) {
  std::string bytes;
  if (hex.size() != kPublicKeyBytes * 2 || !hexDecode(hex, bytes, HexLetters::kLowerOnly)) return false;
  std::copy(bytes.begin(), bytes.end(), key.begin());
  return true;
}

std::string manifestSignedText(const std::vector<SignedFile>& files) {
  std::string text(kHeader);
  for (const SignedFile& f : files) {
    text += kFileTag;
    text += hexEncode(f.sha256);
    text += ' ' + std::to_string(f.size) + (f.mode == 0755 ? " 755 " : " 644 ") + f.name + '\n';
  }
  return text;
}

bool parseUpdateManifest(std::string_view text, UpdateManifest& manifest, std::string& error) {
  manifest = UpdateManifest{};
  if (text.size() > kMaxFileBytes) return fail(error, "the signature file is too large");
  if (text.substr(0, kHeader.size()) != kHeader) return fail(error, "the signature file does not start as one");
  std::set<std::string, std::less<>> names;
  std::size_t at = kHeader.size();
  for (;;) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) return fail(error, "the signature file has no signature line");
    const std::string_view line = text.substr(at, end - at);
    if (line.substr(0, kSignatureTag.size()) == kSignatureTag) {
      if (end + 1 != text.size()) return fail(error, "the signature file goes on after its signature");
      const std::string_view encoded = line.substr(kSignatureTag.size());
      // Base64 decoding skips foreign characters; only the exact text is taken.
      manifest.signature = base64Decode(encoded);
      if (manifest.signature.size() != kSignatureBytes || base64Encode(manifest.signature) != encoded) {
        return fail(error, "the signature line does not hold an Ed25519 signature");
      }
      manifest.signedText = std::string(text.substr(0, at));
      break;
    }
    if (line.substr(0, kFileTag.size()) != kFileTag) return fail(error, "the signature file has a line it does not know");
    SignedFile file;
    if (!parseFileLine(line.substr(kFileTag.size()), file)) return fail(error, "a file line of the signature file is malformed");
    if (!names.insert(file.name).second) return fail(error, "the signature file names " + file.name + " twice");
    if (manifest.files.size() == kMaxFiles) return fail(error, "the signature file names too many files");
    manifest.files.push_back(std::move(file));
    at = end + 1;
  }
  return true;
}

bool signatureMatches(const UpdateManifest& manifest, const PublicKey& key) {
  if (manifest.signature.size() != kSignatureBytes) return false;
  Pkey pkey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
  MdCtx ctx(EVP_MD_CTX_new());
  if (!pkey || !ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) return false;
  return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(manifest.signature.data()),
                          manifest.signature.size(),
                          reinterpret_cast<const unsigned char*>(manifest.signedText.data()),
                          manifest.signedText.size()) == 1;
}

bool generateSigningKey(const std::filesystem::path& privateKeyFile, std::string& publicHex, std::string& error) {
  Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
  if (!key) return fail(error, opensslReason("making a key"));
  // O_EXCL: an existing key is never overwritten, or updates signed with it
  // could no longer be checked.
  UniqueFd fd(::open(privateKeyFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd) return fail(error, "cannot create " + privateKeyFile.string() + " (it must not exist yet)");
  std::FILE* out = ::fdopen(fd.get(), "wb");
  if (out == nullptr) return fail(error, "cannot write " + privateKeyFile.string());
  fd.release();
  const bool written = PEM_write_PrivateKey(out, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
  if (std::fclose(out) != 0 || !written) {
    std::error_code ec;
    std::filesystem::remove(privateKeyFile, ec);
    return fail(error, "cannot write " + privateKeyFile.string());
  }
  return publicHexOf(key.get(), publicHex, error);
}

bool signingKeyPublicHex(const std::filesystem::path& privateKeyFile, std::string& publicHex, std::string& error) {
  const Pkey key = readPrivateKey(privateKeyFile, error);
  return key && publicHexOf(key.get(), publicHex, error);
}

bool signUpdateFolder(const std::filesystem::path& folder, const std::filesystem::path& privateKeyFile,
                      std::size_t& signedFiles, std::string& error) {
  const Pkey key = readPrivateKey(privateKeyFile, error);
  if (!key) return false;
  std::vector<SignedFile> files;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code statError;
    const auto status = std::filesystem::symlink_status(it->path(), statError);
    if (name == kFileName || statError || !std::filesystem::is_regular_file(status)) continue;
    if (!plainUpdateName(name)) return fail(error, "the name of " + it->path().string() + " cannot be part of an update");
    SignedFile file;
    file.name = name;
    file.mode = (status.permissions() & std::filesystem::perms::owner_exec) != std::filesystem::perms::none ? 0755 : 0644;
    if (!digestFile(it->path(), file.sha256, file.size, error)) return false;
    files.push_back(std::move(file));
  }
  if (ec) return fail(error, "cannot read the folder " + folder.string() + ": " + ec.message());
  if (files.empty()) return fail(error, "the folder " + folder.string() + " holds no file to sign");
  if (files.size() > kMaxFiles) return fail(error, "the folder holds more files than an update may");
  std::sort(files.begin(), files.end(), [](const SignedFile& a, const SignedFile& b) { return a.name < b.name; });

  const std::string text = manifestSignedText(files);
  MdCtx ctx(EVP_MD_CTX_new());
  unsigned char signature[kSignatureBytes];
  std::size_t length = sizeof signature;
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
      EVP_DigestSign(ctx.get(), signature, &length, reinterpret_cast<const unsigned char*>(text.data()),
                     text.size()) != 1) {
    return fail(error, opensslReason("signing"));
  }
  const std::string whole =
      text + std::string(kSignatureTag) +
      base64Encode(std::string_view(reinterpret_cast<const char*>(signature), length)) + "\n";
  const std::string problem = replaceFileDurably(
      (folder / kFileName).string(),
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(whole.data()), whole.size()));
  if (!problem.empty()) return fail(error, problem);
  signedFiles = files.size();
  return true;
}

}  // namespace vantrel
