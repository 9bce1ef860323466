// SPDX-License-Identifier: MIT
#pragma once
// Guards for the web site's forms against other sites driving a signed-in
// browser: the hidden token that ties a form to the sign-in session it was
// shown to, and the Origin rule. Every form that changes anything carries
// formTokenField(req); WebSite refuses a signed-in POST whose token does not
// check. Pure functions; thread-safe.

#include <string>

#include "server/http/http_request.h"
#include "server/web/web_page.h"

namespace vantrel::server {

inline constexpr char kFormTokenField[] = "formtoken";

// The hidden input to put inside a <form> shown to `req`'s session; "" when
// the visitor is not signed in.
std::string formTokenField(const WebRequest& req);

// True when a POST may act: it names no Origin or this very site's, and, from
// a signed-in browser, carries the token of its session.
bool formMayAct(const WebRequest& req);

// True when `origin` (an Origin header) is this site as `host` (the Host
// header) names it: same scheme, host and port. "null" never is.
bool sameSiteOrigin(const std::string& origin, const std::string& host);

}  // namespace vantrel::server
