// SPDX-License-Identifier: MIT
// CatalogueStore::search: file names by their words, through SQLite's
// full-text index or PostgreSQL's text search, with the search form's
// conditions, newest first, one page at a time.
#include "server/store/catalogue_store.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "server/store/names.h"

namespace vantrel::server {

namespace {

// The extensions of the search's file kinds, in the order of the kind list.
const std::vector<std::vector<std::string_view>>& kindTypes() {
  static const std::vector<std::vector<std::string_view>> kinds = {
      {},
      {"mp3"},
      {"mp3", "wav", "ogg", "flac", "wma", "m4a", "aac", "mid", "midi", "aif", "aiff", "opus"},
      {"avi", "mpg", "mpeg", "mp4", "mkv", "mov", "wmv", "webm", "asf", "rm", "m4v"},
      {"jpg", "jpeg", "gif", "png", "bmp", "tif", "tiff", "webp", "svg", "ico", "psd"},
      {"txt", "doc", "docx", "pdf", "rtf", "htm", "html", "odt", "md", "csv", "xml"},
      {"c", "cpp", "cc", "h", "hpp", "java", "py", "js", "ts", "cs", "go", "rs", "pl", "sh", "rb", "php", "asm"},
  };
  return kinds;
}

// The words of a search text as an FTS5 query: every word must be present,
// each as a prefix. Only letters, digits and "_" make words, so nothing the
// user types can reach the query syntax.
// On PostgreSQL the same words make a text-search query of prefixes,
// matched against the words of each name (see the schema there).
std::string matchExpression(std::string_view text, Dialect dialect) {
  std::string expr;
  std::string word;
  auto flush = [&] {
    if (word.empty()) return;
    if (dialect == Dialect::kPostgres) {
      if (!expr.empty()) expr += " & ";
      expr += "'" + word + "':*";
    } else {
      if (!expr.empty()) expr += " AND ";
      expr += '"' + word + "\"*";
    }
    word.clear();
  };
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) || ch == '_' || c >= 0x80) {
      word += ch;
    } else {
      flush();
    }
  }
  flush();
  return expr;
}

}  // namespace

SearchResult CatalogueStore::search(const SearchQuery& q) {
  SearchResult result;
  const bool postgres = m_db.dialect() == Dialect::kPostgres;
  const std::string match = matchExpression(q.text, m_db.dialect());
  if (match.empty()) return result;

  std::string where = postgres ? "WHERE f.words @@ lower(?1)::tsquery" : "WHERE files_fts MATCH ?1";
  // SQLite would rather walk the index of the group and test each of its
  // files against the full-text index, which over a large group takes
  // seconds; the "+" leaves the column unindexed here, so the words lead.
  // PostgreSQL weighs both by its statistics.
  if (q.groupId != 0) where += postgres ? " AND f.group_id = ?2" : " AND +f.group_id = ?2";
  if (q.minSize > 0) where += " AND f.size >= ?3";
  if (q.maxSize > 0) where += " AND f.size <= ?4";
  if (q.minDate > 0) where += " AND f.added >= ?5";
  if (q.maxDate > 0) where += " AND f.added <= ?6";
  const auto& kinds = kindTypes();
  if (q.fileKind > 0 && static_cast<size_t>(q.fileKind) < kinds.size()) {
    where += " AND f.filetype IN (";
    for (size_t i = 0; i < kinds[static_cast<size_t>(q.fileKind)].size(); ++i) {
      where += (i == 0 ? "'" : ",'") + std::string(kinds[static_cast<size_t>(q.fileKind)][i]) + "'";
    }
    where += ")";
  } else if (q.fileKind == 7 && !q.fileType.empty()) {
    where += " AND f.filetype = ?7";
  }
  // The sessions of every server process on the database are stored there;
  // each match looks up its own client's, rather than every online client's
  // being gathered for each search.
  if (q.onlineOnly) {
    where += " AND EXISTS (SELECT 1 FROM sessions s WHERE s.client_id = f.client_id AND s.last_ping >= ?10)";
  }
  const std::string matching =
      postgres ? " FROM files f " : " FROM files_fts JOIN files f ON f.id = files_fts.rowid ";
  const std::string from = matching + "JOIN users u ON u.id = f.user_id ";
  auto bindAll = [&](Statement& st) {
    st.bind(1, match);
    if (q.groupId != 0) st.bind(2, q.groupId);
    if (q.minSize > 0) st.bind(3, q.minSize);
    if (q.maxSize > 0) st.bind(4, q.maxSize);
    if (q.minDate > 0) st.bind(5, q.minDate);
    if (q.maxDate > 0) st.bind(6, q.maxDate);
    if (q.fileKind == 7 && !q.fileType.empty()) st.bind(7, asciiLower(q.fileType));
    if (q.onlineOnly) st.bind(10, q.onlineSince);
  };

  ReadConnection read(m_db);
  // Counting every match of a common word costs far more than finding the
  // first page, so the count stops just past kMaxCount.
  const auto countMatches = [&] {
    // Without conditions on the files SQLite counts in the full-text index
    // alone, which holds a row for every file, instead of reading each match.
    const bool wordsAlone = !postgres && where == "WHERE files_fts MATCH ?1";
    Statement count(read, "SELECT COUNT(*) FROM (SELECT 1" + (wordsAlone ? std::string(" FROM files_fts ") : matching) +
                              where + " LIMIT " + std::to_string(kMaxCount + 1) + ") AS matches");
    bindAll(count);
    return count.step() ? count.integer(0) : int64_t{0};
  };
  // PostgreSQL guesses the number of matches of a prefix poorly, and walking
  // the files newest first to fill a page of a word with a few thousand
  // matches takes it a second. So it counts first (from the index): a page of
  // at most kMaxCount matches is sorted from the index's matches ("+ 0" keeps
  // it off the walk), and only a word more common than that walks the files.
  const int64_t matches = q.wantCount || postgres ? countMatches() : 0;
  if (q.wantCount) result.total = matches;
  if (postgres && matches == 0) return result;
  const std::string order = !postgres              ? " ORDER BY files_fts.rowid DESC"
                            : matches <= kMaxCount ? " ORDER BY f.id + 0 DESC"
                                                   : " ORDER BY f.id DESC";
  const int64_t fetch = std::clamp<int64_t>(q.fetch <= 0 ? 100 : q.fetch, 1, kMaxFetch);
  Statement st(read,
               "SELECT f.id, f.name, f.size, f.rating, f.user_id, u.name, f.client_id, f.group_id, f.dir_id, f.added" +
                   from + where + order + " LIMIT ?8 OFFSET ?9");
  bindAll(st);
  st.bind(8, fetch).bind(9, std::max<int64_t>(q.start, 0));
  result.files = readFiles(st);
  return result;
}

}  // namespace vantrel::server
