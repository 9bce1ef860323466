// SPDX-License-Identifier: MIT
#include "crypto/blowfish_cipher.h"

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <climits>
#include <mutex>

namespace vantrel::crypto {

namespace {

// The process-wide OpenSSL objects: a library context with both providers and
// the two algorithms fetched once. They live until the process ends.
struct Algorithms {
  OSSL_LIB_CTX* libctx = nullptr;
  EVP_CIPHER* blowfish = nullptr;
  EVP_MD* sha1 = nullptr;
};

const Algorithms& algorithms() {
  static Algorithms algs;
  static std::once_flag once;
  std::call_once(once, [] {
    algs.libctx = OSSL_LIB_CTX_new();
    if (algs.libctx == nullptr) return;
    // Blowfish is only in "legacy"; "default" must be loaded explicitly as soon
    // as any provider is loaded by hand, or SHA-1 disappears.
    if (OSSL_PROVIDER_load(algs.libctx, "legacy") == nullptr) return;
    if (OSSL_PROVIDER_load(algs.libctx, "default") == nullptr) return;
    algs.blowfish = EVP_CIPHER_fetch(algs.libctx, "BF-CBC", nullptr);
    algs.sha1 = EVP_MD_fetch(algs.libctx, "SHA1", nullptr);
  });
  return algs;
}

struct CtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CtxFree>;

bool initKey(EVP_CIPHER_CTX* ctx, int enc, std::span<const uint8_t> key) {
  const EVP_CIPHER* bf = algorithms().blowfish;
  if (bf == nullptr) return false;
  // The key length must reach the cipher before the key: the cipher's default
  // length is 16 and it would read 16 key bytes.
  return EVP_CipherInit_ex2(ctx, bf, nullptr, nullptr, enc, nullptr) == 1 &&
         EVP_CIPHER_CTX_set_key_length(ctx, static_cast<int>(key.size())) == 1 &&
         EVP_CipherInit_ex2(ctx, nullptr, key.data(), nullptr, enc, nullptr) == 1 &&
         EVP_CIPHER_CTX_set_padding(ctx, enc) == 1;  // our own unpadding rule on decrypt
}

}  // namespace

bool sha1(std::span<const uint8_t> bytes, uint8_t (&digest)[kSha1Size]) {
  const EVP_MD* md = algorithms().sha1;
  unsigned int len = 0;
  return md != nullptr && EVP_Digest(bytes.data(), bytes.size(), digest, &len, md, nullptr) == 1 &&
         len == kSha1Size;
}

struct BlowfishCbc::Contexts {
  CtxPtr enc{EVP_CIPHER_CTX_new()};
  CtxPtr dec{EVP_CIPHER_CTX_new()};
};

BlowfishCbc::BlowfishCbc() : m_ctx(std::make_unique<Contexts>()) {}
BlowfishCbc::~BlowfishCbc() = default;
BlowfishCbc::BlowfishCbc(BlowfishCbc&&) noexcept = default;
BlowfishCbc& BlowfishCbc::operator=(BlowfishCbc&&) noexcept = default;

bool BlowfishCbc::setKey(std::span<const uint8_t> key) {
  m_keyed = false;
  if (key.size() < 4 || key.size() > 56 || !m_ctx || !m_ctx->enc || !m_ctx->dec) return false;
  m_keyed = initKey(m_ctx->enc.get(), 1, key) && initKey(m_ctx->dec.get(), 0, key);
  return m_keyed;
}

bool BlowfishCbc::encrypt(const uint8_t (&iv)[kBlockSize], std::span<const uint8_t> plain, uint8_t* out) {
  if (!m_keyed || plain.size() > static_cast<size_t>(INT_MAX) - 2 * kBlockSize) return false;
  EVP_CIPHER_CTX* ctx = m_ctx->enc.get();
  int n = 0;
  int tail = 0;
  // Re-initialising with the IV alone keeps the key schedule and restarts CBC.
  if (EVP_CipherInit_ex2(ctx, nullptr, nullptr, iv, 1, nullptr) != 1 ||
      EVP_EncryptUpdate(ctx, out, &n, plain.data(), static_cast<int>(plain.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx, out + n, &tail) != 1) {
    return false;
  }
  return static_cast<size_t>(n + tail) == cipherLength(plain.size());
}

std::optional<size_t> BlowfishCbc::decrypt(const uint8_t (&iv)[kBlockSize], std::span<const uint8_t> cipher,
                                           uint8_t* out) {
  if (!m_keyed || cipher.size() > static_cast<size_t>(INT_MAX)) return std::nullopt;
  const size_t whole = cipher.size() - cipher.size() % kBlockSize;
  if (whole == 0) return 0;
  EVP_CIPHER_CTX* ctx = m_ctx->dec.get();
  int n = 0;
  int tail = 0;
  if (EVP_CipherInit_ex2(ctx, nullptr, nullptr, iv, 0, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx, 0) != 1 ||
      EVP_DecryptUpdate(ctx, out, &n, cipher.data(), static_cast<int>(whole)) != 1 ||
      EVP_DecryptFinal_ex(ctx, out + n, &tail) != 1 || static_cast<size_t>(n + tail) != whole) {
    return std::nullopt;
  }
  const size_t pad = out[whole - 1];
  return pad > kBlockSize ? whole : whole - pad;
}

}  // namespace vantrel::crypto
