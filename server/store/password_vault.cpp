// SPDX-License-Identifier: MIT
#include "server/store/password_vault.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/unique_fd.h"

namespace vantrel::server {

namespace {

constexpr int kNonceSize = 12;
constexpr int kTagSize = 16;

struct CtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using Ctx = std::unique_ptr<EVP_CIPHER_CTX, CtxFree>;

bool readAll(int fd, uint8_t* out, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::read(fd, out + got, n - got);
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

}  // namespace

bool PasswordVault::openKeyFile(const std::string& path, std::string& error) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd && errno == ENOENT) {
    std::array<uint8_t, kKeySize> key{};
    if (RAND_bytes(key.data(), kKeySize) != 1) {
      error = "no random bytes for the server key";
      return false;
    }
    UniqueFd out(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!out || ::write(out.get(), key.data(), kKeySize) != static_cast<ssize_t>(kKeySize) || ::fsync(out.get()) != 0) {
      error = "cannot create the key file " + path + ": " + std::strerror(errno);
      return false;
    }
    setKey(key);
    return true;
  }
  if (!fd) {
    error = "cannot open the key file " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != static_cast<off_t>(kKeySize)) {
    error = "the key file " + path + " is not a " + std::to_string(kKeySize) + "-byte file";
    return false;
  }
  if ((st.st_mode & 077) != 0) {
    error = "the key file " + path + " may be read by others; make it mode 0600";
    return false;
  }
  std::array<uint8_t, kKeySize> key{};
  if (!readAll(fd.get(), key.data(), kKeySize)) {
    error = "cannot read the key file " + path;
    return false;
  }
  setKey(key);
  return true;
}

void PasswordVault::setKey(const std::array<uint8_t, kKeySize>& key) {
  m_key = key;
  m_ready = true;
}

std::string PasswordVault::seal(std::string_view plain) const {
  if (!m_ready) return {};
  std::string out(kNonceSize + plain.size() + kTagSize, '\0');
  auto* bytes = reinterpret_cast<unsigned char*>(out.data());
  if (RAND_bytes(bytes, kNonceSize) != 1) return {};
  Ctx ctx(EVP_CIPHER_CTX_new());
  int len = 0;
  int tail = 0;
  if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, m_key.data(), bytes) != 1 ||
      EVP_EncryptUpdate(ctx.get(), bytes + kNonceSize, &len, reinterpret_cast<const unsigned char*>(plain.data()),
                        static_cast<int>(plain.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), bytes + kNonceSize + len, &tail) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagSize, bytes + kNonceSize + plain.size()) != 1) {
    return {};
  }
  return out;
}

std::optional<std::string> PasswordVault::unseal(std::string_view sealed) const {
  if (!m_ready || sealed.size() < static_cast<size_t>(kNonceSize + kTagSize)) return std::nullopt;
  const auto* bytes = reinterpret_cast<const unsigned char*>(sealed.data());
  const size_t n = sealed.size() - kNonceSize - kTagSize;
  std::string plain(n, '\0');
  Ctx ctx(EVP_CIPHER_CTX_new());
  int len = 0;
  int tail = 0;
  unsigned char tag[kTagSize];
  std::memcpy(tag, bytes + kNonceSize + n, kTagSize);
  if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, m_key.data(), bytes) != 1 ||
      EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()), &len, bytes + kNonceSize,
                        static_cast<int>(n)) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, tag) != 1 ||
      EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()) + len, &tail) != 1) {
    return std::nullopt;
  }
  return plain;
}

}  // namespace vantrel::server
