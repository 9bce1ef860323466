// SPDX-License-Identifier: MIT
#include "server/store/server_setup.h"

#include <filesystem>

#include "server/storage/backend_factory.h"
#include "server/store/server_codes.h"

namespace vantrel::server {

bool openServerKey(AccountStore& accounts, PasswordVault& vault, const std::string& dbPath,
                   const std::string& keyFile, std::string& error) {
  // Beside a database file by default; a PostgreSQL database has no folder,
  // and every server process on it must be given the same key file.
  if (keyFile.empty() && isPostgresTarget(dbPath)) {
    error = "a PostgreSQL database needs --key FILE, the server key that every server process on it shares";
    return false;
  }
  const std::string keyPath = keyFile.empty() ? dbPath + ".key" : keyFile;
  // A fresh key would make every stored password unreadable, so a database
  // that holds accounts never gets one silently.
  std::error_code ec;
  if (!std::filesystem::exists(keyPath, ec) && accounts.userCount() > 0) {
    error = "the server key " + keyPath + " is missing: the " + std::to_string(accounts.userCount()) +
            " accounts in " + dbPath + " cannot be read without it; restore it from a backup";
    return false;
  }
  if (!vault.openKeyFile(keyPath, error)) return false;
  if (accounts.userCount() > 0 && !accounts.anyPasswordReadable()) {
    error = "the server key " + keyPath + " does not open the passwords stored in " + dbPath +
            "; it belongs to another database";
    return false;
  }
  return true;
}

bool fillDefaultCatalogue(CatalogueStore& catalogue) {
  if (!catalogue.isEmpty()) return false;
  for (const char* name : {"General", "Music", "Video", "Pictures", "Documents", "Software"}) {
    if (catalogue.createCategory(0, name, true) == 0) return false;
  }
  return true;
}

bool fillDemoCatalogue(CatalogueStore& catalogue) {
  if (!catalogue.isEmpty()) return false;
  auto group = [&](int64_t parent, const char* name, int memb, int perm, const char* password,
                   const char* description) {
    NewGroup g;
    g.name = name;
    g.parentId = parent;
    g.memb = memb;
    g.perm = perm;
    g.password = password;
    g.description = description;
    int64_t id = 0;
    catalogue.createGroup(g, 0, &id);
    return id;
  };
  const int64_t music = catalogue.createCategory(0, "Music", true);
  const int64_t video = catalogue.createCategory(0, "Video", true);
  const int64_t software = catalogue.createCategory(0, "Software", false);
  const int64_t documents = catalogue.createCategory(0, "Documents", true);
  const int64_t linux = catalogue.createCategory(software, "Linux", true);
  const int64_t archive = catalogue.createCategory(software, "Archive", true);

  const int64_t lounge = group(music, "Open Music Lounge", policy::kAdmitAll, policy::kPublicDownload, "",
                               "Anyone may join and share; anyone may download.");
  group(music, "Jazz Collectors", policy::kApply, policy::kMemberDownload, "",
        "Apply to join; only members download.");
  group(video, "Home Movies", policy::kPassword, policy::kPublicDownload, "demo",
        "Join with the password \"demo\"; anyone may download.");
  group(video, "Film Club", policy::kApplyOrPassword, policy::kMemberDownload, "club",
        "Apply, or join with the password \"club\"; only members download.");
  const int64_t tools = group(linux, "Linux Tools", policy::kAdmitAll, policy::kPublicDownload, "",
                              "Scripts and small programs.");
  group(archive, "Closed Archive", policy::kDenyAll, policy::kPublicDownload, "", "Closed to new members.");
  const int64_t reading = group(documents, "Reading Room", policy::kAdmitAll, policy::kMemberDownload, "",
                                "Papers and books; members download.");
  catalogue.addDirectory(lounge, "Rock");
  catalogue.addDirectory(lounge, "Classical");
  catalogue.addDirectory(tools, "Scripts");
  catalogue.addDirectory(reading, "Papers");
  return true;
}

}  // namespace vantrel::server
