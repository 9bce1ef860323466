// SPDX-License-Identifier: MIT
#include "server/admin/admin_command.h"

#include <ctime>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "server/admin/database_copy.h"
#include "server/http/form_fields.h"
#include "server/storage/backend_factory.h"
#include "server/storage/database.h"
#include "server/store/account_store.h"
#include "server/store/admin_store.h"
#include "server/store/password_vault.h"
#include "server/store/server_codes.h"
#include "server/store/server_setup.h"

namespace vantrel::server {

namespace {

constexpr const char* kUsage =
    "usage: vantrel-server admin --db FILE|postgresql://... [--key FILE] COMMAND [ARGS]\n"
    "users:\n"
    "  users                                list users: state, last login, files shared\n"
    "  user-add NAME [--password-file F]    the password is the first line of F or of standard input\n"
    "  user-password NAME [--password-file F]\n"
    "  user-disable NAME | user-enable NAME a disabled user cannot log in; a running session ends\n"
    "  user-delete NAME                     removes the user and the files they share; each group they own\n"
    "                                       passes to its first administrator, else its first member,\n"
    "                                       else it is removed with its files\n"
    "categories:\n"
    "  categories                           the tree, with IDs and whether each holds groups\n"
    "  category-add PARENT-ID NAME [--no-groups]   PARENT-ID 0 for the top level\n"
    "  category-rename ID NAME\n"
    "  category-move ID PARENT-ID\n"
    "  category-groups ID yes|no            whether groups can be created in it\n"
    "  category-remove ID                   only when it holds no groups or categories\n"
    "groups:\n"
    "  groups                               list groups with owner, members, applicants, files\n"
    "  group-remove ID                      the group with its directories and files\n"
    "  counts                               users, online clients, files, groups, categories\n"
    "moving:\n"
    "  copy-from SOURCE                     copies every row of the database SOURCE (a SQLite file)\n"
    "                                       into the empty --db (a PostgreSQL one); --key is SOURCE's\n"
    "                                       server key (default SOURCE.key), which the new servers use\n";

std::string when(int64_t seconds) {
  if (seconds <= 0) return "never";
  const std::time_t t = seconds;
  std::tm utc{};
  ::gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

const char* policyName(int memb) {
  switch (memb) {
    case policy::kApply: return "apply";
    case policy::kPassword: return "password";
    case policy::kApplyOrPassword: return "apply-or-password";
    case policy::kDenyAll: return "closed";
    case policy::kAdmitAll: return "open";
    default: return "?";
  }
}

// The first line of the stream, without its line end.
bool readPassword(std::FILE* stream, std::string& password) {
  password.clear();
  int c;
  while ((c = std::fgetc(stream)) != EOF && c != '\n') password += static_cast<char>(c);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return !password.empty() || c == '\n';
}

class Admin {
 public:
  Admin(std::FILE* in, std::FILE* out, std::FILE* err) : m_in(in), m_out(out), m_err(err) {}

  int run(std::vector<std::string> args) {
    std::string dbPath;
    std::string keyPath;
    while (args.size() >= 2 && (args[0] == "--db" || args[0] == "--key")) {
      (args[0] == "--db" ? dbPath : keyPath) = args[1];
      args.erase(args.begin(), args.begin() + 2);
    }
    if (!args.empty() && (args[0] == "--help" || args[0] == "help")) {
      std::fputs(kUsage, m_out);
      return 0;
    }
    if (dbPath.empty() || args.empty()) return usage();
    if (args[0] == "copy-from") return args.size() == 2 ? copyFrom(dbPath, keyPath, args[1]) : usage();
    if (!m_db.open(dbPath)) return fail("cannot open the database " + dbPath + ": " + m_db.error());
    std::string error;
    if (!openServerKey(m_accounts, m_vault, dbPath, keyPath, error)) return fail(error);
    if (m_db.created()) fillDefaultCatalogue(m_catalogue);
    const std::string command = args[0];
    args.erase(args.begin());
    return dispatch(command, args);
  }

 private:
  // Copies the database at `source` into the empty one at `target`. The
  // sealed passwords travel as they are: the source's server key opens them,
  // so every server on the target is given that key.
  int copyFrom(const std::string& target, const std::string& keyPath, const std::string& source) {
    Database from;
    if (!from.open(source)) return fail("cannot open the database " + source + ": " + from.error());
    const std::string keyFile = !keyPath.empty() ? keyPath : isPostgresTarget(source) ? "" : source + ".key";
    if (keyFile.empty()) return fail("give the server key of " + source + " with --key FILE");
    PasswordVault vault;
    AccountStore accounts(from, vault);
    std::string error;
    if (!openServerKey(accounts, vault, source, keyFile, error)) return fail(error);
    if (!m_db.open(target)) return fail("cannot open the database " + target + ": " + m_db.error());
    CopyCounts counts;
    if (!copyDatabase(from, m_db, counts, error)) return fail(error);
    return done("copied " + std::to_string(counts.users) + " users, " + std::to_string(counts.nodes) +
                " categories, groups and directories, " + std::to_string(counts.files) + " files (" +
                std::to_string(counts.rows) + " rows); run every server on it with --key " + keyFile);
  }

  int usage() {
    std::fputs(kUsage, m_err);
    return 2;
  }
  int fail(const std::string& message) {
    std::fprintf(m_err, "vantrel-server admin: %s\n", message.c_str());
    return 1;
  }
  int done(const std::string& message) {
    std::fprintf(m_out, "%s\n", message.c_str());
    return 0;
  }

  std::optional<int64_t> id(const std::string& text) {
    const auto n = parseNumber(text);
    if (!n || *n < 0) return std::nullopt;
    return *n;
  }

  int result(AdminStore::Result r, const std::string& what) {
    switch (r) {
      case AdminStore::Result::kOk: return done(what);
      case AdminStore::Result::kNotFound: return fail("no such category or group");
      case AdminStore::Result::kBadName: return fail("the name is empty");
      case AdminStore::Result::kNotEmpty: return fail("the category still holds groups or categories");
      case AdminStore::Result::kLoop: return fail("a category cannot move under itself");
      case AdminStore::Result::kStorageFailed: return fail("the database refused the change: " + m_db.error());
    }
    return 1;
  }

  int accountResult(AccountStore::Result r, const std::string& what) {
    switch (r) {
      case AccountStore::Result::kOk: return done(what);
      case AccountStore::Result::kNameTaken: return fail("the name is taken");
      case AccountStore::Result::kBadName: return fail("a name has 3 to 31 letters, digits, _ - or .");
      case AccountStore::Result::kBadPassword:
        return fail("a password has 4 to 64 characters and no control characters");
      case AccountStore::Result::kStorageFailed: return fail("the database refused the change");
    }
    return 1;
  }

  // The password from --password-file F in args, else from standard input.
  bool password(const std::vector<std::string>& args, size_t from, std::string& out) {
    if (args.size() == from + 2 && args[from] == "--password-file") {
      std::FILE* f = std::fopen(args[from + 1].c_str(), "r");
      if (f == nullptr) return false;
      const bool ok = readPassword(f, out);
      std::fclose(f);
      return ok;
    }
    if (args.size() != from) return false;
    return readPassword(m_in, out);
  }

  int dispatch(const std::string& command, const std::vector<std::string>& args) {
    const size_t n = args.size();
    if (command == "users" && n == 0) return users();
    if (command == "user-add" && n >= 1) {
      std::string secret;
      if (!password(args, 1, secret)) return fail("no password: give it on standard input or with --password-file");
      return accountResult(m_accounts.createUser(args[0], secret, ""), "user " + args[0] + " added");
    }
    if ((command == "user-password" || command == "user-disable" || command == "user-enable" ||
         command == "user-delete") &&
        n >= 1) {
      const auto user = m_accounts.findUser(args[0]);
      if (!user) return fail("no user " + args[0]);
      if (command == "user-password") {
        std::string secret;
        if (!password(args, 1, secret)) return fail("no password: give it on standard input or with --password-file");
        return accountResult(m_accounts.setPassword(user->id, secret), "password of " + user->name + " set");
      }
      if (n != 1) return usage();
      if (command == "user-delete") return result(m_admin.deleteUser(user->id), "user " + user->name + " deleted");
      const bool disable = command == "user-disable";
      if (!m_accounts.setDisabled(user->id, disable)) return fail("the database refused the change");
      return done("user " + user->name + (disable ? " disabled" : " enabled"));
    }
    if (command == "categories" && n == 0) return categories();
    if (command == "category-add" && (n == 2 || (n == 3 && args[2] == "--no-groups"))) {
      const auto parent = id(args[0]);
      if (!parent) return usage();
      int64_t newId = 0;
      const auto r = m_admin.addCategory(*parent, args[1], n == 2, &newId);
      return result(r, "category " + std::to_string(newId) + " added");
    }
    if (command == "category-rename" && n == 2) {
      const auto which = id(args[0]);
      return which ? result(m_admin.renameCategory(*which, args[1]), "category renamed") : usage();
    }
    if (command == "category-move" && n == 2) {
      const auto which = id(args[0]);
      const auto parent = id(args[1]);
      return which && parent ? result(m_admin.moveCategory(*which, *parent), "category moved") : usage();
    }
    if (command == "category-groups" && n == 2 && (args[1] == "yes" || args[1] == "no")) {
      const auto which = id(args[0]);
      return which ? result(m_admin.setCategoryHoldsGroups(*which, args[1] == "yes"), "category changed") : usage();
    }
    if (command == "category-remove" && n == 1) {
      const auto which = id(args[0]);
      return which ? result(m_admin.removeCategory(*which), "category removed") : usage();
    }
    if (command == "groups" && n == 0) return groups();
    if (command == "group-remove" && n == 1) {
      const auto which = id(args[0]);
      return which ? result(m_admin.removeGroup(*which), "group removed") : usage();
    }
    if (command == "counts" && n == 0) {
      const Totals t = m_admin.totals();
      std::fprintf(m_out, "users %lld\nonline clients %lld\nfiles %lld\ngroups %lld\ncategories %lld\n",
                   static_cast<long long>(t.users), static_cast<long long>(t.onlineClients),
                   static_cast<long long>(t.files), static_cast<long long>(t.groups),
                   static_cast<long long>(t.categories));
      return 0;
    }
    return usage();
  }

  int users() {
    std::fprintf(m_out, "%-31s %-8s %-20s %s\n", "NAME", "STATE", "LAST LOGIN", "FILES");
    for (const auto& u : m_accounts.listUsers()) {
      std::fprintf(m_out, "%-31s %-8s %-20s %lld\n", u.name.c_str(), u.disabled ? "disabled" : "active",
                   when(u.lastLogin).c_str(), static_cast<long long>(u.files));
    }
    return 0;
  }

  int categories() {
    std::fprintf(m_out, "%-6s %-6s %-6s %s\n", "ID", "GROUPS", "HOLDS", "PATH");
    for (const auto& c : m_admin.categories()) {
      std::fprintf(m_out, "%-6lld %-6s %-6lld %s\n", static_cast<long long>(c.id), c.hasGroups ? "yes" : "no",
                   static_cast<long long>(c.groups), c.path.c_str());
    }
    return 0;
  }

  int groups() {
    std::fprintf(m_out, "%-6s %-32s %-18s %-16s %-8s %-10s %-6s %s\n", "ID", "NAME", "POLICY", "OWNER", "MEMBERS",
                 "APPLICANTS", "FILES", "CATEGORY");
    for (const auto& g : m_admin.groups()) {
      std::fprintf(m_out, "%-6lld %-32s %-18s %-16s %-8lld %-10lld %-6lld %s\n", static_cast<long long>(g.id),
                   g.name.c_str(), policyName(g.memb), g.ownerName.empty() ? "-" : g.ownerName.c_str(),
                   static_cast<long long>(g.members), static_cast<long long>(g.applicants),
                   static_cast<long long>(g.files), g.categoryPath.c_str());
    }
    return 0;
  }

  std::FILE* m_in;
  std::FILE* m_out;
  std::FILE* m_err;
  Database m_db;
  PasswordVault m_vault;
  AccountStore m_accounts{m_db, m_vault};
  CatalogueStore m_catalogue{m_db};
  AdminStore m_admin{m_db};
};

}  // namespace

int runAdmin(int argc, char** argv, std::FILE* in, std::FILE* out, std::FILE* err) {
  std::vector<std::string> args(argv, argv + argc);
  Admin admin(in, out, err);
  return admin.run(std::move(args));
}

bool parseUsersText(std::string_view text, std::vector<std::pair<std::string, std::string>>& users,
                    std::string& error) {
  int lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      error = "line " + std::to_string(lineNumber) + ": NAME:PASSWORD expected";
      return false;
    }
    users.emplace_back(std::string(line.substr(0, colon)), std::string(line.substr(colon + 1)));
  }
  return true;
}

}  // namespace vantrel::server
