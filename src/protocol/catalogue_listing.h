// SPDX-License-Identifier: MIT
#pragma once
// The entries of the central catalogue as the listing replies ("getlisting",
// "getallgroups", "search") carry them, and the reader of those replies. A reply
// is pieces joined by "&&", each piece a query string with a "type" field:
// 1 category, 2 group, 3 directory, 4 file. Values of the records; no locking.
// Entries are shared (std::shared_ptr) because one entry is both a child of
// its parent and filed by ID in the CatalogueCache.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

enum class EntryType : int { Category = 1, Group = 2, Directory = 3, File = 4 };

struct CatalogueEntry {
  explicit CatalogueEntry(EntryType t) : type(t) {}
  virtual ~CatalogueEntry() = default;

  EntryType type;
  std::string name;
  int32_t id = 0;
  int32_t ownerId = 0;
  std::vector<std::shared_ptr<CatalogueEntry>> children;  // filled by a listing of the entry
};

struct CategoryEntry : CatalogueEntry {
  CategoryEntry() : CatalogueEntry(EntryType::Category) {}
  int numGroups = 0;
  bool hasGroups = false;  // the category lists groups
};

// A group as the catalogue lists it, and the data of a group to create.
struct GroupEntry : CatalogueEntry {
  GroupEntry() : CatalogueEntry(EntryType::Group) {}
  int memb = 0;
  int perm = 0;
  int status = 0;
  bool personal = false;
  int fileCount = 0;       // the number before ":" of "filecount"
  int fileCountOther = 0;  // the number after it: the group's members
  bool pending = false;    // the user applied to join; the owner has not decided
  std::string password;    // for CreateGroup only
  std::string description;
  std::string keywords;
};

struct DirectoryEntry : CatalogueEntry {
  DirectoryEntry() : CatalogueEntry(EntryType::Directory) {}
};

struct FileEntry : CatalogueEntry {
  FileEntry() : CatalogueEntry(EntryType::File) {}
  std::string url;
  int64_t size = 0;
  int rating = 0;
  int online = 0;
};

using EntryList = std::vector<std::shared_ptr<CatalogueEntry>>;
using QueryFields = std::map<std::string, std::vector<std::string>, std::less<>>;

// Name=value pairs joined by "&", URL-decoded ("+" is a space, "%XX" a byte);
// a repeated name collects several values.
QueryFields parseQueryFields(std::string_view text);

// One reply value URL-decoded the same way.
std::string decodeReplyValue(std::string_view value);

// The entries of a listing reply, in reply order; pieces of another type or
// without "type" are skipped.
EntryList ParseListing(std::string_view reply);

}  // namespace vantrel
