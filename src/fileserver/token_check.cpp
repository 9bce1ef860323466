// SPDX-License-Identifier: MIT
#include "fileserver/token_check.h"

#include <arpa/inet.h>

#include <cstdlib>

#include "core/error_table.h"

namespace vantrel {
namespace {

std::vector<std::string_view> dollarPieces(std::string_view token) {
  // Cut like a tokeniser: consecutive "$" give no empty piece.
  std::vector<std::string_view> pieces;
  std::size_t pos = 0;
  while (pos < token.size()) {
    pos = token.find_first_not_of('$', pos);
    if (pos == std::string_view::npos) break;
    const std::size_t end = std::min(token.find('$', pos), token.size());
    pieces.push_back(token.substr(pos, end - pos));
    pos = end;
  }
  return pieces;
}

bool isIpv4Literal(std::string_view host) {
  in_addr parsed{};
  return inet_pton(AF_INET, std::string(host).c_str(), &parsed) == 1;
}

// Host names carry no meaning in their case or a trailing dot.
std::string normalHost(std::string_view host) {
  std::string out;
  for (char c : host) out.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
  while (!out.empty() && out.back() == '.') out.pop_back();
  return out;
}

// "host:port", "[v6]:port" or "host" → host.
std::string_view stripPort(std::string_view authority) {
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    return close == std::string_view::npos ? authority : authority.substr(0, close + 1);
  }
  return authority.substr(0, authority.find(':'));
}

bool isLoopbackOrOwn(std::string_view host, const TrustedHosts& trusted) {
  in_addr parsed{};
  if (inet_pton(AF_INET, std::string(host).c_str(), &parsed) == 1) {
    if ((ntohl(parsed.s_addr) >> 24) == 127) return true;
    for (const auto& own : trusted.ownAddresses) {
      in_addr ownParsed{};
      if (inet_pton(AF_INET, own.c_str(), &ownParsed) == 1 && ownParsed.s_addr == parsed.s_addr) return true;
    }
    return false;
  }
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    in6_addr parsed6{};
    const std::string inner(host.substr(1, host.size() - 2));
    return inet_pton(AF_INET6, inner.c_str(), &parsed6) == 1 && IN6_IS_ADDR_LOOPBACK(&parsed6);
  }
  return false;
}

// A page's host is this computer only as "localhost" or as an address of this
// computer, parsed as an address: "127.evil.example" is a name anybody can
// register. The central server's host is compared whole.
bool isTrustedHost(std::string_view host, const TrustedHosts& trusted) {
  const std::string h = normalHost(host);
  if (h.empty()) return false;
  if (h == "localhost" || isLoopbackOrOwn(h, trusted)) return true;
  return !trusted.centralServerHost.empty() && h == normalHost(stripPort(trusted.centralServerHost));
}

constexpr int kDownloadTokenNoGroup = 29;

const HeaderLine* findHeader(const std::vector<HeaderLine>& headers, std::string_view name) {
  for (const auto& h : headers) {
    if (equalsNoCase(h.name, name)) return &h;
  }
  return nullptr;
}

}  // namespace

bool isLocalRequester(const RequesterAddresses& a) {
  return equalsNoCase(a.requester, "127.0.0.1") || (!a.own.empty() && equalsNoCase(a.requester, a.own));
}

int checkCommandToken(const std::string* token, const RequesterAddresses& a) {
  if (token == nullptr) return err::kTokenMissing;
  const auto pieces = dollarPieces(*token);
  if (pieces.size() < 2) return err::kTokenNoAddress;
  if (isLocalRequester(a)) return err::kOk;
  if (!a.external) return equalsNoCase(pieces[1], a.requester) ? err::kOk : err::kTokenWrongRequester;
  if (pieces.size() < 3) return err::kTokenNoOwnAddress;
  const bool ownThird = equalsNoCase(pieces[2], a.own);
  if (equalsNoCase(pieces[1], *a.external)) return ownThird ? err::kOk : err::kTokenWrongOwnAddress;
  return ownThird ? err::kTokenForeignTarget : err::kOk;
}

int checkDownloadToken(const std::string* token, const RequesterAddresses& a, int groupId) {
  if (token == nullptr) return err::kDownloadTokenMissing;
  const auto pieces = dollarPieces(*token);
  if (pieces.empty()) return err::kDownloadTokenNoAddress;
  if (a.external) {
    if (equalsNoCase(pieces[0], *a.external)) {
      // Same external address: the requester must sit in our own network.
      const std::size_t lastDot = a.own.rfind('.');
      const std::string_view network = std::string_view(a.own).substr(0, lastDot == std::string::npos ? 0 : lastDot);
      if (a.requester.size() < network.size() ||
          !equalsNoCase(std::string_view(a.requester).substr(0, network.size()), network)) {
        return err::kDownloadTokenWrongNetwork;
      }
    }
  } else if (!equalsNoCase(pieces[0], a.requester)) {
    return err::kDownloadTokenWrongNetwork;
  }
  if (pieces.size() < 2) return kDownloadTokenNoGroup;
  const std::string second(pieces[1]);
  return std::atoi(second.c_str()) == groupId ? err::kOk : err::kDownloadTokenLast;
}

std::string hostOfUrl(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return {};
  std::string_view rest = url.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) rest.remove_prefix(at + 1);
  return std::string(stripPort(rest));
}

bool hostHeaderAllowed(const std::vector<HeaderLine>& headers, const TrustedHosts& trusted) {
  const auto* host = findHeader(headers, "Host");
  if (host == nullptr) return true;
  const std::string name = normalHost(stripPort(host->value));
  const bool ipLiteral = isIpv4Literal(name) || (name.size() > 2 && name.front() == '[' && name.back() == ']');
  return name.empty() || name == "localhost" || ipLiteral ||
         (!trusted.hostName.empty() && name == normalHost(trusted.hostName));
}

bool browserMayDrive(const std::vector<HeaderLine>& headers, const TrustedHosts& trusted) {
  if (const auto* site = findHeader(headers, "Sec-Fetch-Site"); site && equalsNoCase(site->value, "cross-site")) {
    return false;
  }
  const HeaderLine* origin = findHeader(headers, "Origin");
  if (origin == nullptr) origin = findHeader(headers, "Referer");
  if (origin != nullptr) {
    // "Origin: null" comes from sandboxed or file pages: never ours.
    if (!isTrustedHost(hostOfUrl(origin->value), trusted)) return false;
  }
  return hostHeaderAllowed(headers, trusted);
}

}  // namespace vantrel
