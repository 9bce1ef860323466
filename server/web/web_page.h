// SPDX-License-Identifier: MIT
#pragma once
// What the web site's pages share: the request as a page sees it (form
// fields from query and body, the signed-in user), the common layout, and
// the ready-made responses. Values and pure functions; thread-safe.

#include <optional>
#include <string>
#include <string_view>

#include "server/http/form_fields.h"
#include "server/http/http_request.h"
#include "server/store/account_store.h"

namespace vantrel::server {

struct WebRequest {
  const HttpRequest& http;
  const std::string& peerIp;
  FormFields form;  // query string, then the form body, URL-decoded
  std::optional<UserRecord> user;
  std::string cookie;  // the sign-in cookie as sent
};

inline constexpr char kSessionCookie[] = "vtsession";

// The whole page: layout, navigation (with the user when signed in), body.
std::string renderPage(std::string_view title, std::string_view body, const std::optional<UserRecord>& user,
                       std::string_view notice = {});
HttpResponse htmlResponse(std::string html, int status = 200);
HttpResponse redirectTo(const std::string& location);
// A short page with one message, e.g. for errors.
HttpResponse messagePage(const WebRequest& req, std::string_view title, std::string_view message, int status = 200);

// The value of one cookie in a Cookie header, or "".
std::string cookieValue(std::string_view header, std::string_view name);

}  // namespace vantrel::server
