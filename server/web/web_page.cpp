// SPDX-License-Identifier: MIT
#include "server/web/web_page.h"

namespace vantrel::server {

namespace {

constexpr std::string_view kStyle = R"css(
body{font-family:system-ui,sans-serif;margin:0;color:#222;background:#f6f7f9}
header{background:#24406b;color:#fff;padding:.6em 1.2em;display:flex;gap:1.2em;align-items:center;flex-wrap:wrap}
header a{color:#fff;text-decoration:none}header .brand{font-weight:bold;font-size:1.2em}
header .who{margin-left:auto}
main{max-width:60em;margin:1.5em auto;padding:0 1em}
.notice{background:#e8f3e8;border:1px solid #9c9;padding:.6em 1em;margin-bottom:1em}
.error{background:#fbeaea;border:1px solid #d99;padding:.6em 1em;margin-bottom:1em}
table{border-collapse:collapse;width:100%;background:#fff}
th,td{text-align:left;padding:.35em .6em;border-bottom:1px solid #e3e3e3}
th{background:#eef1f5}
form.box{background:#fff;padding:1em;border:1px solid #ddd;max-width:28em}
form.box label{display:block;margin:.5em 0 .2em}
input[type=text],input[type=password],input[type=email],textarea,select{width:100%;box-sizing:border-box;padding:.35em}
button{margin-top:.8em;padding:.4em 1.2em}
.crumbs{margin-bottom:1em}.muted{color:#777}
)css";

}  // namespace

std::string renderPage(std::string_view title, std::string_view body, const std::optional<UserRecord>& user,
                       std::string_view notice) {
  std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                     "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>";
  html += htmlEscape(title);
  html += " - Vantrel</title><style>";
  html += kStyle;
  html += "</style></head><body><header><a class=\"brand\" href=\"/\">Vantrel</a>"
          "<a href=\"/browse.jsp\">Browse</a><a href=\"/search.jsp\">Search</a>";
  if (user) {
    html += "<span class=\"who\">Signed in as <b>" + htmlEscape(user->name) +
            "</b> &middot; <a href=\"/logout.jsp\">Sign out</a></span>";
  } else {
    html += "<span class=\"who\"><a href=\"/login.jsp\">Sign in</a> &middot; <a href=\"/signup.jsp\">Sign up</a></span>";
  }
  html += "</header><main>";
  if (!notice.empty()) html += "<div class=\"notice\">" + htmlEscape(notice) + "</div>";
  html += "<h1>" + htmlEscape(title) + "</h1>\n";
  html += body;
  html += "</main></body></html>\n";
  return html;
}

HttpResponse htmlResponse(std::string html, int status) {
  HttpResponse r;
  r.status = status;
  r.contentType = "text/html; charset=utf-8";
  r.body = std::move(html);
  r.extraHeaders.push_back("X-Content-Type-Options: nosniff");
  r.extraHeaders.push_back("X-Frame-Options: DENY");
  return r;
}

HttpResponse redirectTo(const std::string& location) {
  HttpResponse r;
  r.status = 302;
  r.contentType = "text/html; charset=utf-8";
  r.extraHeaders.push_back("Location: " + location);
  r.body = "<a href=\"" + htmlEscape(location) + "\">Continue</a>\n";
  return r;
}

HttpResponse messagePage(const WebRequest& req, std::string_view title, std::string_view message, int status) {
  return htmlResponse(renderPage(title, "<p>" + htmlEscape(message) + "</p>", req.user), status);
}

std::string cookieValue(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const size_t semi = header.find(';');
    std::string_view part = header.substr(0, semi);
    header.remove_prefix(semi == std::string_view::npos ? header.size() : semi + 1);
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    const size_t eq = part.find('=');
    if (eq != std::string_view::npos && part.substr(0, eq) == name) return std::string(part.substr(eq + 1));
  }
  return {};
}

}  // namespace vantrel::server
