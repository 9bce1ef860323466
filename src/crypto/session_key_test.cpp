// SPDX-License-Identifier: MIT
#include "crypto/session_key.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/base64.h"
#include "crypto/crypto_api.h"

namespace vantrel {
namespace {

constexpr uint8_t kSalt[8] = {'s', 'a', 'l', 't', 's', 'a', 'l', 't'};

TEST(SessionKey, EmptyUntilDerived) {
  SessionKey key;
  EXPECT_FALSE(key.hasKey());
  EXPECT_EQ(key.EncryptText("abc"), "");
  EXPECT_EQ(key.DecryptText(std::string(8, 'x')), "");
  EXPECT_EQ(key.SessionSalt(), "");
  EXPECT_EQ(key.MakeToken("x"), "");
}

TEST(SessionKey, MatchesTheExportedFunctions) {
  SessionKey key;
  ASSERT_EQ(key.DeriveWithSalt("password", kSalt), 0);
  EXPECT_EQ(key.SessionSalt(), "saltsalt");

  unsigned char salt[8], k[8], iv[8];
  std::copy(std::begin(kSalt), std::end(kSalt), salt);
  int sl = 8, kl = 8, vl = 8;
  ASSERT_EQ(GenerateKey(reinterpret_cast<const unsigned char*>("password"), 8, salt, &sl, k, &kl, iv, &vl, 1), 0);
  const std::string plain = "action=get_fileids";
  unsigned char out[64];
  int outLength = sizeof out;
  ASSERT_EQ(Encrypt(k, 8, iv, reinterpret_cast<const unsigned char*>(plain.data()), static_cast<int>(plain.size()),
                    out, &outLength),
            0);
  // Twice in a row: every message starts again from the IV.
  EXPECT_EQ(key.EncryptText(plain), std::string(reinterpret_cast<char*>(out), static_cast<size_t>(outLength)));
  EXPECT_EQ(key.EncryptText(plain), std::string(reinterpret_cast<char*>(out), static_cast<size_t>(outLength)));
  EXPECT_EQ(key.DecryptText(key.EncryptText(plain)), plain);
  EXPECT_EQ(key.DecryptText(key.EncryptText("")), "");
}

TEST(SessionKey, FreshDerivationReplacesTheKey) {
  SessionKey key;
  ASSERT_EQ(key.DeriveWithSalt("one", kSalt), 0);
  const std::string before = key.EncryptText("text");
  ASSERT_EQ(key.DeriveSessionKey("one"), 0);
  EXPECT_EQ(key.SessionSalt().size(), 8u);
  if (key.SessionSalt() != "saltsalt") {
    EXPECT_NE(key.EncryptText("text"), before);
  }
  EXPECT_EQ(key.DecryptText(key.EncryptText("text")), "text");
}

TEST(SessionKey, TokenCarriesTheTextBetweenDollars) {
  SessionKey key;
  ASSERT_EQ(key.DeriveWithSalt("pw", kSalt), 0);
  const std::string plain = key.DecryptText(base64Decode(key.MakeToken("admin")));
  const size_t first = plain.find('$');
  const size_t second = plain.find('$', first + 1);
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(plain.substr(first + 1, second - first - 1), "admin");
  const int r = std::stoi(plain.substr(0, first));
  EXPECT_GE(r, 0);
  EXPECT_LE(r, 32767);
  EXPECT_EQ(plain.substr(second + 1), std::to_string(r % 24));
}

// Re-logins replace the key while other threads encrypt: every text must come
// out whole under one of the two keys, never under a mix.
TEST(SessionKey, ReplacementIsAtomicForConcurrentUsers) {
  SessionKey key;
  SessionKey a, b;
  constexpr uint8_t kOther[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(a.DeriveWithSalt("pw", kSalt), 0);
  ASSERT_EQ(b.DeriveWithSalt("pw", kOther), 0);
  ASSERT_EQ(key.DeriveWithSalt("pw", kSalt), 0);
  const std::string plain(100, 'p');
  const std::string ca = a.EncryptText(plain);
  const std::string cb = b.EncryptText(plain);
  std::atomic<int> bad{0};
  {
    std::vector<std::jthread> users;
    for (int t = 0; t < 2; ++t) {
      users.emplace_back([&] {
        for (int i = 0; i < 300; ++i) {
          const std::string c = key.EncryptText(plain);
          if (c != ca && c != cb) ++bad;
        }
      });
    }
    for (int i = 0; i < 30; ++i) {
      key.DeriveWithSalt("pw", kOther);
      key.DeriveWithSalt("pw", kSalt);
    }
  }
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
}  // namespace vantrel
