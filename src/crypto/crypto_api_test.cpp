// SPDX-License-Identifier: MIT
#include "crypto/crypto_api.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/blowfish_cipher.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes hex(const std::string& text) {
  Bytes out;
  for (size_t i = 0; i + 1 < text.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoi(text.substr(i, 2), nullptr, 16)));
  return out;
}

std::string toHex(const unsigned char* p, size_t n) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

using EncryptFn = int (*)(const unsigned char*, int, const unsigned char*, const unsigned char*, int, unsigned char*, int*);
using DecryptFn = int (*)(const unsigned char*, int, const unsigned char*, unsigned char*, int*, const unsigned char*, int);
using GenerateKeyFn = int (*)(const unsigned char*, int, unsigned char*, int*, unsigned char*, int*, unsigned char*, int*, int);

// Published single-block Blowfish vectors with 8-byte keys. With a zero IV the
// first CBC block is the plain block cipher.
TEST(CryptoApi, EncryptMatchesPublishedBlowfishVectors) {
  struct Case { const char* key; const char* plain; const char* cipher; };
  const Case cases[] = {
      {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
      {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
      {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
      {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
      {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
      {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
  };
  const Bytes iv(8, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    const Bytes key = hex(c.key);
    const Bytes plain = hex(c.plain);
    unsigned char out[16];
    int outLength = sizeof out;
    ASSERT_EQ(Encrypt(key.data(), 8, iv.data(), plain.data(), 8, out, &outLength), 0);
    EXPECT_EQ(outLength, 16);  // a whole block of padding after 8 bytes
    EXPECT_EQ(toHex(out, 8), c.cipher);
  }
}

// Two chained blocks under one 8-byte key, built from two published vectors of
// the key 1111111111111111: P2 is chosen so that P2 ^ C1 is the second vector's
// plain block, which only a correct CBC chain turns into its cipher block.
TEST(CryptoApi, CbcChainsBlocksUnderAnEightByteKey) {
  const Bytes key = hex("1111111111111111");
  const Bytes iv(8, 0);
  const Bytes c1 = hex("2466DD878B963C9D");
  const Bytes second = hex("0123456789ABCDEF");
  Bytes plain = hex("1111111111111111");
  for (int i = 0; i < 8; ++i) plain.push_back(second[i] ^ c1[i]);
  unsigned char out[24];
  int outLength = sizeof out;
  ASSERT_EQ(Encrypt(key.data(), 8, iv.data(), plain.data(), 16, out, &outLength), 0);
  ASSERT_EQ(outLength, 24);
  EXPECT_EQ(toHex(out, 16), "2466DD878B963C9D7D0CC630AFDA1EC7");

  unsigned char back[24];
  int backLength = sizeof back;
  ASSERT_EQ(Decrypt(key.data(), 8, iv.data(), back, &backLength, out, outLength), 0);
  EXPECT_EQ(Bytes(back, back + backLength), plain);
}

TEST(CryptoApi, Sha1OfAbc) {
  uint8_t digest[vantrel::crypto::kSha1Size];
  const uint8_t abc[] = {'a', 'b', 'c'};
  ASSERT_TRUE(vantrel::crypto::sha1(abc, digest));
  EXPECT_EQ(toHex(digest, sizeof digest), "A9993E364706816ABA3E25717850C26C9CD0D89D");
}

TEST(CryptoApi, CipherLengthAndOutBufferSize) {
  const Bytes key = hex("0123456789ABCDEF");
  const Bytes iv = hex("FEDCBA9876543210");
  const unsigned char text[9] = "abcdefgh";
  struct Case { int plainLength; int outSize; int wantCode; int wantLength; };
  const Case cases[] = {
      {0, 8, 0, 8},    // empty text: one block of padding
      {5, 8, 0, 8},
      {8, 8, 1, 16},   // too small: the needed length comes back
      {8, 16, 0, 16},
      {7, 64, 0, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.plainLength);
    Bytes out(static_cast<size_t>(c.outSize), 0xAA);
    int outLength = c.outSize;
    EXPECT_EQ(Encrypt(key.data(), 8, iv.data(), text, c.plainLength, out.data(), &outLength), c.wantCode);
    EXPECT_EQ(outLength, c.wantLength);
    if (c.wantCode == 1) {
      EXPECT_EQ(out, Bytes(static_cast<size_t>(c.outSize), 0xAA));  // nothing written
    }
    if (c.wantCode == 0) {
      for (int i = c.wantLength; i < c.outSize; ++i) EXPECT_EQ(out[static_cast<size_t>(i)], 0);
    }
  }
}

// Builds a cipher text whose final plain block ends in the given byte, by
// encrypting 16 bytes and keeping the first two (unpadded) blocks.
Bytes cipherEndingIn(unsigned char last, const Bytes& key, const Bytes& iv) {
  Bytes plain(16, 'x');
  plain[15] = last;
  unsigned char out[24];
  int outLength = sizeof out;
  EXPECT_EQ(Encrypt(key.data(), 8, iv.data(), plain.data(), 16, out, &outLength), 0);
  return Bytes(out, out + 16);
}

TEST(CryptoApi, DecryptIsLenientAboutPadding) {
  const Bytes key = hex("0123456789ABCDEF");
  const Bytes iv = hex("0011223344556677");
  struct Case { const char* name; unsigned char last; size_t extra; int want; };
  const Case cases[] = {
      {"count above eight keeps the block", 9, 0, 16},
      {"count 255 keeps the block", 255, 0, 16},
      {"count three removes three", 3, 0, 13},
      {"count eight removes the block", 8, 0, 8},
      {"count zero removes nothing", 0, 0, 16},
      {"incomplete final block is dropped", 3, 5, 13},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes cipher = cipherEndingIn(c.last, key, iv);
    cipher.insert(cipher.end(), c.extra, 0x55);
    unsigned char out[32];
    int outLength = sizeof out;
    ASSERT_EQ(Decrypt(key.data(), 8, iv.data(), out, &outLength, cipher.data(), static_cast<int>(cipher.size())), 0);
    EXPECT_EQ(outLength, c.want);
  }
  // Too small an out buffer reports the plain length.
  const Bytes cipher = cipherEndingIn(3, key, iv);
  unsigned char out[4];
  int outLength = sizeof out;
  EXPECT_EQ(Decrypt(key.data(), 8, iv.data(), out, &outLength, cipher.data(), 16), 1);
  EXPECT_EQ(outLength, 13);
}

TEST(CryptoApi, GenerateKeyIsDeterministicForAGivenSalt) {
  const unsigned char password[] = "secret";
  unsigned char salt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  unsigned char key1[8], iv1[8], key2[8], iv2[8];
  int s = 8, k = 8, v = 8;
  ASSERT_EQ(GenerateKey(password, 6, salt, &s, key1, &k, iv1, &v, 1), 0);
  s = 8, k = 8, v = 8;
  ASSERT_EQ(GenerateKey(password, 6, salt, &s, key2, &k, iv2, &v, 1), 0);
  EXPECT_EQ(toHex(key1, 8), toHex(key2, 8));
  EXPECT_EQ(toHex(iv1, 8), toHex(iv2, 8));
  EXPECT_NE(toHex(key1, 8), toHex(iv1, 8));

  // Fresh salts taken within one second are equal; lengths become 8.
  unsigned char freshA[12], freshB[12];
  int sa = 12, sb = 12;
  k = 16;
  unsigned char bigKey[16];
  v = 8;
  ASSERT_EQ(GenerateKey(password, 6, freshA, &sa, bigKey, &k, iv1, &v, 0), 0);
  EXPECT_EQ(sa, 8);
  EXPECT_EQ(k, 8);
  k = 8;
  ASSERT_EQ(GenerateKey(password, 6, freshB, &sb, key2, &k, iv2, &v, 0), 0);
  if (toHex(freshA, 8) == toHex(freshB, 8)) {
    EXPECT_EQ(toHex(bigKey, 8), toHex(key2, 8));
  }
  for (int i = 8; i < 16; ++i) EXPECT_EQ(bigKey[i], 0);
}

TEST(CryptoApi, GenerateKeyRejectsBadArguments) {
  unsigned char salt[8] = {}, key[8] = {}, iv[8] = {};
  const unsigned char pw[] = "pw";
  struct Case { const char* name; int salt, key, iv, flag; bool nullKey; int want; };
  const Case cases[] = {
      {"null buffer", 8, 8, 8, 0, true, 3},
      {"short key", 8, 7, 8, 0, false, 1},
      {"short iv", 8, 8, 4, 0, false, 1},
      {"short salt", 7, 8, 8, 0, false, 1},
      {"given salt must be exactly 8", 9, 8, 8, 1, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int s = c.salt, k = c.key, v = c.iv;
    unsigned char bigSalt[16] = {};
    EXPECT_EQ(GenerateKey(pw, 2, c.salt > 8 ? bigSalt : salt, &s, c.nullKey ? nullptr : key, &k, iv, &v, c.flag), c.want);
  }
}

// Another program loads the shared library and uses its three functions.
TEST(CryptoApi, SharedLibraryExportsTheThreeFunctions) {
  void* lib = dlopen(VANTREL_CRYPTO_SO, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto generate = reinterpret_cast<GenerateKeyFn>(dlsym(lib, "GenerateKey"));
  auto encrypt = reinterpret_cast<EncryptFn>(dlsym(lib, "Encrypt"));
  auto decrypt = reinterpret_cast<DecryptFn>(dlsym(lib, "Decrypt"));
  ASSERT_NE(generate, nullptr);
  ASSERT_NE(encrypt, nullptr);
  ASSERT_NE(decrypt, nullptr);

  const Bytes key = hex("FEDCBA9876543210");
  const Bytes iv(8, 0);
  const Bytes plain = hex("0123456789ABCDEF");
  unsigned char out[16];
  int outLength = sizeof out;
  ASSERT_EQ(encrypt(key.data(), 8, iv.data(), plain.data(), 8, out, &outLength), 0);
  EXPECT_EQ(toHex(out, 8), "0ACEAB0FC6A0A28D");

  unsigned char salt[8] = {9, 9, 9, 9, 9, 9, 9, 9}, k[8], v[8];
  int sl = 8, kl = 8, vl = 8;
  ASSERT_EQ(generate(reinterpret_cast<const unsigned char*>("pw"), 2, salt, &sl, k, &kl, v, &vl, 1), 0);
  const unsigned char text[] = "action=ping";
  unsigned char cipher[32];
  int cl = sizeof cipher;
  ASSERT_EQ(encrypt(k, 8, v, text, 11, cipher, &cl), 0);
  unsigned char back[32];
  int bl = sizeof back;
  ASSERT_EQ(decrypt(k, 8, v, back, &bl, cipher, cl), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(back), static_cast<size_t>(bl)), "action=ping");
  // No dlclose: the library's OpenSSL objects live until the process ends, and
  // unloading it would strand them.
}

}  // namespace
