// SPDX-License-Identifier: MIT
#include "protocol/catalogue_listing.h"

#include <cstdlib>

#include "core/text_codecs.h"

namespace vantrel {

namespace {

// Decimal text to a number; an unreadable value gives 0.
long long number(const QueryFields& fields, std::string_view name) {
  const auto it = fields.find(name);
  if (it == fields.end() || it->second.empty()) return 0;
  return std::strtoll(it->second.front().c_str(), nullptr, 10);
}

int number32(const QueryFields& fields, std::string_view name) {
  const long long n = number(fields, name);
  return n > INT32_MAX || n < INT32_MIN ? 0 : static_cast<int>(n);
}

void readText(const QueryFields& fields, std::string_view name, std::string& out) {
  const auto it = fields.find(name);
  if (it != fields.end() && !it->second.empty()) out = it->second.front();
}

void readNumber(const QueryFields& fields, std::string_view name, int& out) {
  if (fields.count(name) != 0) out = number32(fields, name);
}

std::shared_ptr<CatalogueEntry> entryOf(const QueryFields& fields) {
  if (fields.count("type") == 0) return nullptr;
  std::shared_ptr<CatalogueEntry> entry;
  switch (number32(fields, "type")) {
    case static_cast<int>(EntryType::Category): {
      auto c = std::make_shared<CategoryEntry>();
      readNumber(fields, "numgroups", c->numGroups);
      if (fields.count("hasgroups") != 0) c->hasGroups = number(fields, "hasgroups") != 0;
      entry = c;
      break;
    }
    case static_cast<int>(EntryType::Group): {
      auto g = std::make_shared<GroupEntry>();
      readNumber(fields, "memb", g->memb);
      readNumber(fields, "perm", g->perm);
      readNumber(fields, "status", g->status);
      if (fields.count("personal") != 0) g->personal = number(fields, "personal") != 0;
      if (const auto it = fields.find("filecount"); it != fields.end() && !it->second.empty()) {
        const std::string& v = it->second.front();
        g->fileCount = static_cast<int>(std::strtol(v.c_str(), nullptr, 10));
        const std::size_t colon = v.find(':');
        if (colon != std::string::npos) g->fileCountOther = static_cast<int>(std::strtol(v.c_str() + colon + 1, nullptr, 10));
      }
      entry = g;
      break;
    }
    case static_cast<int>(EntryType::Directory):
      entry = std::make_shared<DirectoryEntry>();
      break;
    case static_cast<int>(EntryType::File): {
      auto f = std::make_shared<FileEntry>();
      readText(fields, "url", f->url);
      if (fields.count("size") != 0) f->size = number(fields, "size");
      readNumber(fields, "rating", f->rating);
      readNumber(fields, "online", f->online);
      entry = f;
      break;
    }
    default:
      return nullptr;
  }
  readText(fields, "name", entry->name);
  if (fields.count("id") != 0) entry->id = number32(fields, "id");
  if (fields.count("ownerid") != 0) entry->ownerId = number32(fields, "ownerid");
  return entry;
}

}  // namespace

std::string decodeReplyValue(std::string_view value) { return urlDecode(value); }

QueryFields parseQueryFields(std::string_view text) {
  QueryFields fields;
  while (!text.empty()) {
    const std::size_t amp = text.find('&');
    const std::string_view pair = text.substr(0, amp);
    if (!pair.empty()) {
      const std::size_t eq = pair.find('=');
      const std::string name = urlDecode(pair.substr(0, eq));
      const std::string value = eq == std::string_view::npos ? std::string() : urlDecode(pair.substr(eq + 1));
      fields[name].push_back(value);
    }
    if (amp == std::string_view::npos) break;
    text.remove_prefix(amp + 1);
  }
  return fields;
}

EntryList ParseListing(std::string_view reply) {
  EntryList entries;
  while (!reply.empty()) {
    const std::size_t cut = reply.find("&&");
    if (auto entry = entryOf(parseQueryFields(reply.substr(0, cut)))) entries.push_back(std::move(entry));
    if (cut == std::string_view::npos) break;
    reply.remove_prefix(cut + 2);
  }
  return entries;
}

}  // namespace vantrel
