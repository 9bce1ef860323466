// SPDX-License-Identifier: MIT
#pragma once
// CataloguePages: the web site's catalogue — categories, a group's or
// directory's contents with download links into the owners' file servers and
// the "share files here" link to the user's own client, joining a group, the
// search page, a group's settings for its owner and administrators
// (applications with their comments to approve or refuse, members, removing
// files, which tells the sharing clients, and the membership policy, download
// permission, password, description and keywords), and invitations.
//
// Thread-safe; the context outlives the object.

#include <string>
#include <string_view>

#include "server/clients/server_context.h"
#include "server/web/web_page.h"

namespace vantrel::server {

class CataloguePages {
 public:
  explicit CataloguePages(ServerContext& context) : m_ctx(context) {}

  HttpResponse browse(const WebRequest& req);
  HttpResponse group(const WebRequest& req);
  HttpResponse join(const WebRequest& req);
  HttpResponse search(const WebRequest& req);
  HttpResponse groupSettings(const WebRequest& req);
  HttpResponse invite(const WebRequest& req);
  // The signed-in user's groups, for the home page.
  std::string myGroups(const WebRequest& req);

 private:
  std::string fileTable(const WebRequest& req, const std::vector<FileRow>& files);
  std::string crumbs(int64_t nodeId);
  // The group-settings page's forms, their sections, and what they do.
  static std::string adminForm(const WebRequest& req, int64_t groupId, std::string_view action);
  std::string runGroup(const WebRequest& req, int64_t groupId, const std::string& action);
  std::string applicationsSection(const WebRequest& req, int64_t groupId);
  std::string settingsSection(const WebRequest& req, int64_t groupId);

  ServerContext& m_ctx;
};

}  // namespace vantrel::server
