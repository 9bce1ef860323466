// SPDX-License-Identifier: MIT
#include "launcher/update/update_installer.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

#include "platform/unique_fd.h"

namespace vantrel {
namespace {

struct MdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

InstallResult refused(int code, std::string reason) { return InstallResult{code, std::move(reason), 0}; }

bool readSignatureFile(const std::filesystem::path& path, std::string& text, bool& missing) {
  missing = false;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat st {};
  if (!fd) {
    missing = errno == ENOENT;
    return false;
  }
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text.append(buf, static_cast<std::size_t>(n));
    // Larger than any signature file: stop reading, parsing refuses it.
    if (text.size() > update_signature::kMaxFileBytes) return true;
  }
}

// One file copied to its temporary name beside the file it replaces.
struct Staged {
  std::filesystem::path temporary, target;
};

// Copies `source` to `temporary`, taking the digest of the bytes written;
// kOk only when they are exactly the signed file.
InstallResult copyChecked(const std::filesystem::path& source, const std::filesystem::path& temporary,
                          const SignedFile& file) {
  UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat st {};
  if (!in || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return refused(install::kFileMissing, "the file " + file.name + " did not arrive");
  }
  UniqueFd out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!out) return refused(install::kWriteFailed, "cannot write " + temporary.string() + ": " + std::strerror(errno));
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
    return refused(install::kWriteFailed, "the crypto library cannot take a SHA-256 digest");
  }
  std::uint64_t copied = 0;
  std::vector<char> buf(1 << 16);
  for (;;) {
    const ssize_t n = ::read(in.get(), buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return refused(install::kFileMissing, "cannot read the file " + file.name);
    if (n == 0) break;
    copied += static_cast<std::uint64_t>(n);
    // A file longer than signed is refused without copying all of it.
    if (copied > file.size) return refused(install::kFileDiffers, "the file " + file.name + " is not the signed one");
    EVP_DigestUpdate(ctx.get(), buf.data(), static_cast<std::size_t>(n));
    if (!writeAll(out.get(), std::string_view(buf.data(), static_cast<std::size_t>(n)))) {
      return refused(install::kWriteFailed, "cannot write " + temporary.string() + ": " + std::strerror(errno));
    }
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(ctx.get(), digest, &length);
  if (copied != file.size || std::string(reinterpret_cast<const char*>(digest), length) != file.sha256) {
    return refused(install::kFileDiffers, "the file " + file.name + " is not the signed one");
  }
  if (::fchmod(out.get(), static_cast<mode_t>(file.mode)) != 0 || ::fsync(out.get()) != 0) {
    return refused(install::kWriteFailed, "cannot write " + temporary.string() + ": " + std::strerror(errno));
  }
  return InstallResult{};
}

void removeStaged(const std::vector<Staged>& staged) {
  for (const Staged& s : staged) ::unlink(s.temporary.c_str());
}

}  // namespace

InstallResult installSignedUpdate(const std::filesystem::path& updateDir, const std::filesystem::path& programDir,
                                  const PublicKey& key) {
  std::string text;
  bool missing = false;
  if (!readSignatureFile(updateDir / update_signature::kFileName, text, missing)) {
    return missing ? refused(install::kNoSignature, "it is not signed (the file update.sig is missing)")
                   : refused(install::kMalformed, "its signature file update.sig cannot be read");
  }
  UpdateManifest manifest;
  std::string error;
  if (!parseUpdateManifest(text, manifest, error)) return refused(install::kMalformed, error);
  if (!signatureMatches(manifest, key)) {
    return refused(install::kBadSignature, "its signature does not check against this program's key");
  }
  if (manifest.files.empty()) return refused(install::kMalformed, "the signature names no file");

  std::vector<Staged> staged;
  for (const SignedFile& file : manifest.files) {
    Staged s{programDir / ("." + file.name + ".update-new"), programDir / file.name};
    staged.push_back(s);
    InstallResult copied = copyChecked(updateDir / file.name, s.temporary, file);
    if (copied.code != install::kOk) {
      removeStaged(staged);
      return copied;
    }
  }
  // Every file is in place under its temporary name: now the renames, which
  // on one file system do not fail for want of space.
  for (std::size_t i = 0; i < staged.size(); ++i) {
    if (::rename(staged[i].temporary.c_str(), staged[i].target.c_str()) != 0) {
      const std::string why = std::strerror(errno);
      removeStaged(std::vector<Staged>(staged.begin() + static_cast<std::ptrdiff_t>(i), staged.end()));
      return refused(install::kWriteFailed, "cannot replace " + staged[i].target.string() + ": " + why);
    }
  }
  UniqueFd dir(::open(programDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) ::fsync(dir.get());
  return InstallResult{install::kOk, "", staged.size()};
}

void removeUpdateFolder(const std::filesystem::path& updateDir) {
  std::error_code ec;
  std::filesystem::remove_all(updateDir, ec);
}

}  // namespace vantrel
