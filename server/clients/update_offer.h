// SPDX-License-Identifier: MIT
#pragma once
// UpdateOffer: the client update that the server hands out. The update is the
// files of one folder; the reply to "getupdate" names them as URLs under
// /update/ on the server's own HTTP port, in one "url" value separated by ";",
// with an optional comment in Base64, and serve() answers those URLs.
//
// Only regular files that sit directly in the folder and have plain names
// (letters, digits, ".", "_", "-", not starting with ".") are offered or
// served: no symbolic link, sub-folder or name with "/" or ".." can reach
// anything outside it. The folder is read at every request, so files may be
// replaced while the server runs.
//
// setAddress() before the listener starts; after that every method is const
// and thread-safe.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "server/http/http_request.h"

namespace vantrel::server {

class UpdateOffer {
 public:
  static constexpr std::string_view kPathPrefix = "/update/";
  // Files are answered from memory; larger ones are left out of the offer.
  static constexpr int64_t kMaxFileBytes = 64LL << 20;
  static constexpr size_t kMaxNameLength = 100;

  UpdateOffer(std::filesystem::path directory, std::string comment)
      : m_directory(std::move(directory)), m_comment(std::move(comment)) {}

  // The address and port the server listens on; "0.0.0.0" makes the URLs name
  // the host that the client's request was sent to.
  void setAddress(std::string host, uint16_t port);
  // False with the reason when the folder is not a readable folder.
  bool check(std::string& error) const;

  // The names offered now, sorted.
  std::vector<std::string> files() const;
  // The reply to "getupdate": "result=0&", then "url=" and "comment=" when the
  // folder offers files. `requestHost` is the request's Host header;
  // `offered`, when given, receives the number of files named.
  std::string reply(std::string_view requestHost, size_t* offered = nullptr) const;
  // The answer to a GET of kPathPrefix + name: the file, or 404.
  HttpResponse serve(std::string_view path) const;

 private:
  std::string urlBase(std::string_view requestHost) const;

  const std::filesystem::path m_directory;
  const std::string m_comment;
  std::string m_host = "127.0.0.1";
  uint16_t m_port = 0;
};

// True for a name that may be offered and served: 1 to kMaxNameLength
// letters, digits, ".", "_" or "-", not starting with ".".
bool plainUpdateFileName(std::string_view name);

}  // namespace vantrel::server
