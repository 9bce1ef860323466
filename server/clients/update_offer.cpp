// SPDX-License-Identifier: MIT
#include "server/clients/update_offer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "core/base64.h"
#include "platform/unique_fd.h"
#include "server/http/form_fields.h"

namespace vantrel::server {

namespace {

constexpr size_t kMaxHostName = 253;

bool plainHostName(std::string_view host) {
  if (host.empty() || host.size() > kMaxHostName) return false;
  return std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
  });
}

// Some clients' update download take whatever comes with a length as the file,
// whatever the status: an error goes without a length, which every client
// refuses.
HttpResponse updateError(int status, std::string text) {
  HttpResponse r;
  r.status = status;
  r.body = std::move(text);
  r.announceLength = false;
  return r;
}

HttpResponse notFound() { return updateError(404, "no such update file\n"); }

}  // namespace

bool plainUpdateFileName(std::string_view name) {
  if (name.empty() || name.size() > UpdateOffer::kMaxNameLength || name.front() == '.') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
  });
}

void UpdateOffer::setAddress(std::string host, uint16_t port) {
  m_host = std::move(host);
  m_port = port;
}

bool UpdateOffer::check(std::string& error) const {
  std::error_code ec;
  if (!std::filesystem::is_directory(m_directory, ec)) {
    error = "the update folder " + m_directory.string() + " is not a folder";
    return false;
  }
  std::filesystem::directory_iterator it(m_directory, ec);
  if (ec) {
    error = "cannot read the update folder " + m_directory.string() + ": " + ec.message();
    return false;
  }
  return true;
}

std::vector<std::string> UpdateOffer::files() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(m_directory, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!plainUpdateFileName(name)) continue;
    // symlink_status: a link is never followed, not even to a regular file.
    std::error_code statError;
    const auto status = std::filesystem::symlink_status(it->path(), statError);
    if (statError || !std::filesystem::is_regular_file(status)) continue;
    const auto size = std::filesystem::file_size(it->path(), statError);
    if (statError || size > static_cast<uintmax_t>(kMaxFileBytes)) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string UpdateOffer::urlBase(std::string_view requestHost) const {
  std::string host = m_host;
  if (host == "0.0.0.0") {
    // The address the client reached us at; its port may differ behind a
    // forwarder, but the files are served by this listener's port.
    const std::string_view named = requestHost.substr(0, requestHost.find(':'));
    host = plainHostName(named) ? std::string(named) : "127.0.0.1";
  }
  return "http://" + host + ":" + std::to_string(m_port);
}

std::string UpdateOffer::reply(std::string_view requestHost, size_t* offered) const {
  std::string reply;
  appendField(reply, "result", 0);
  const std::vector<std::string> names = files();
  if (offered != nullptr) *offered = names.size();
  if (names.empty()) return reply;
  const std::string base = urlBase(requestHost) + std::string(kPathPrefix);
  std::string urls;
  for (const std::string& name : names) {
    if (!urls.empty()) urls += ';';
    urls += base + name;
  }
  appendField(reply, "url", replyValueEncode(urls));
  // Base64 has "+", which the client's reading of the reply would turn into a
  // space: the value is escaped like any other.
  if (!m_comment.empty()) appendField(reply, "comment", replyValueEncode(base64Encode(m_comment)));
  return reply;
}

HttpResponse UpdateOffer::serve(std::string_view path) const {
  if (path.substr(0, kPathPrefix.size()) != kPathPrefix) return notFound();
  const std::string_view name = path.substr(kPathPrefix.size());
  if (!plainUpdateFileName(name)) return notFound();
  // O_NOFOLLOW: a link put in place of a listed file is refused, not followed.
  // O_NONBLOCK: a pipe put there must not hang the worker.
  const std::string full = (m_directory / std::string(name)).string();
  UniqueFd fd(::open(full.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxFileBytes) {
    return notFound();
  }
  HttpResponse r;
  r.contentType = "application/octet-stream";
  r.body.resize(static_cast<size_t>(info.st_size));
  size_t got = 0;
  while (got < r.body.size()) {
    const ssize_t n = ::read(fd.get(), r.body.data() + got, r.body.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  // Cut short while it was read (being replaced): never half an update.
  if (got != r.body.size()) return updateError(500, "the update file changed while it was read\n");
  return r;
}

}  // namespace vantrel::server
