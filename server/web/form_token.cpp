// SPDX-License-Identifier: MIT
#include "server/web/form_token.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cctype>

#include "core/text_codecs.h"

namespace vantrel::server {
namespace {

// The token is a digest of the sign-in cookie: the cookie is HttpOnly and
// never leaves this site, so a page elsewhere can neither read nor compute it,
// and it changes with every sign-in.
std::string tokenOf(const std::string& cookie) {
  static constexpr char kPurpose[] = "vantrel form token\n";
  const std::string input = kPurpose + cookie;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(input.data(), input.size(), digest, &length, EVP_sha256(), nullptr) != 1) return {};
  return hexEncode(std::span<const uint8_t>(digest, length));
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string formTokenField(const WebRequest& req) {
  if (!req.user || req.cookie.empty()) return {};
  return std::string("<input type=\"hidden\" name=\"") + kFormTokenField + "\" value=\"" + tokenOf(req.cookie) + "\">";
}

bool sameSiteOrigin(const std::string& origin, const std::string& host) {
  // The site speaks plain HTTP; an https page or another port is another site.
  return !host.empty() && lower(origin) == "http://" + lower(host);
}

bool formMayAct(const WebRequest& req) {
  const std::string origin = req.http.header("Origin");
  if (!origin.empty() && !sameSiteOrigin(origin, req.http.header("Host"))) return false;
  if (!req.user) return true;
  const std::string want = tokenOf(req.cookie);
  const std::string got = req.form.first(kFormTokenField);
  return !want.empty() && got.size() == want.size() && CRYPTO_memcmp(got.data(), want.data(), want.size()) == 0;
}

}  // namespace vantrel::server
