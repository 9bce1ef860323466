// SPDX-License-Identifier: MIT
#pragma once
// CatalogueActions: the encrypted catalogue requests of a logged-in client —
// listings of categories, groups and directories, directory names, creating
// and removing directories, joining and creating groups, the group list and
// the search. Each returns the reply text, "result=" first; listings carry
// their entries after it, separated by "&&", with values escaped so that the
// client's URL decoding gives them back unchanged.
//
// Thread-safe; the context outlives the object.

#include <string>

#include "server/clients/server_context.h"
#include "server/http/form_fields.h"

namespace vantrel::server {

class CatalogueActions {
 public:
  explicit CatalogueActions(ServerContext& context) : m_ctx(context) {}

  std::string getListing(const ClientSession& session, const FormFields& form, const std::string& peerIp);
  std::string getDirectoryNames(const FormFields& form);
  std::string createDirectory(const ClientSession& session, const FormFields& form);
  std::string removeDirectories(const ClientSession& session, const FormFields& form);
  std::string joinGroup(const ClientSession& session, const FormFields& form);
  std::string createGroup(const ClientSession& session, const FormFields& form);
  std::string allGroups(const ClientSession& session, const FormFields& form);
  std::string search(const ClientSession& session, const FormFields& form, const std::string& peerIp);

  // Sends "remove_file" orders for removed files to their clients' file servers.
  void notifyOwners(const std::vector<FileRow>& removed, int64_t exceptClientId);

  // Entry texts of listings ("type=..&..&").
  static std::string categoryEntry(const CategoryRow& c);
  static std::string groupEntry(const GroupRow& g);
  static std::string directoryEntry(const DirectoryRow& d);
  std::string fileEntry(const FileRow& f, const std::string& url);

 private:
  ServerContext& m_ctx;
};

// A date as the client's search writes it, "%m/%d/%y" in local time, as
// calendar seconds; nullopt when it does not read.
std::optional<int64_t> parseSearchDate(std::string_view text);

}  // namespace vantrel::server
