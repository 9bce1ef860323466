// SPDX-License-Identifier: MIT
#include "protocol/catalogue_requests.h"

#include <gtest/gtest.h>

#include "net/scripted_http_server.h"
#include "protocol/catalogue_cache.h"
#include "protocol/server_channel.h"
#include "protocol/testing/protocol_fixture.h"

namespace vantrel {
namespace {

using protocol_testing::ProtocolFixture;
using testing::ScriptedHttpServer;

class CatalogueRequestsTest : public ::testing::Test, public ProtocolFixture {
 protected:
  CatalogueRequestsTest() { loggedIn(7); }
};

TEST_F(CatalogueRequestsTest, RequestBodiesAndResults) {
  ScriptedHttpServer server(ScriptedHttpServer::reply("result=0&"));
  useServer(server.port());
  std::string reply;
  EXPECT_EQ(JoinGroup(ctx, 42, "", ""), catalogue::kListingOk);
  EXPECT_EQ(plainBody(server.lastRequest()), "action=joingroup42&groupid=42");
  EXPECT_EQ(JoinGroup(ctx, 42, "pw", "hi there"), catalogue::kListingOk);
  EXPECT_EQ(plainBody(server.lastRequest()), "action=joingroup42&groupid=42&password=pw&comments=hi there");

  EXPECT_EQ(GetAllGroups(ctx, 77, reply), 0);
  EXPECT_EQ(plainBody(server.lastRequest()), "action=getallgroups&checksum=77");
  std::vector<int32_t> dirs = {3, 4};
  EXPECT_EQ(RemoveDirectories(ctx, dirs, nullptr), catalogue::kListingOk);
  EXPECT_EQ(plainBody(server.lastRequest()), "action=removedir&dirid=3&dirid=4");
  EXPECT_EQ(dirs.size(), 2u);

  server.setHandler(ScriptedHttpServer::reply("result=0&matches=1&"));
  EXPECT_EQ(GetAllGroups(ctx, 77, reply), catalogue::kGroupsCurrent);
  EXPECT_EQ(reply, "result=0&matches=1&");

  server.setHandler(ScriptedHttpServer::reply("result=6&"));
  EXPECT_EQ(RemoveDirectories(ctx, dirs, nullptr), 506);
  EXPECT_TRUE(dirs.empty());
  EXPECT_EQ(JoinGroup(ctx, 1, "", ""), 506);
}

TEST_F(CatalogueRequestsTest, ListingAndSearchUseTheServersOwnPort) {
  ScriptedHttpServer server(ScriptedHttpServer::reply("result=0&&type=4&name=a.mp3&id=3&size=5000000000&"));
  useServer(server.port());  // not port 80
  std::string reply;
  EXPECT_EQ(GetListing(ctx, ListingKind::CategoryWithGroups, 5, reply), catalogue::kListingOk);
  EXPECT_EQ(plainBody(server.lastRequest()), "action=getlisting&hasgroups=1&categoryid=5");
  SearchCriteria criteria;
  criteria.text = "blues";
  EXPECT_EQ(Search(ctx, criteria, nullptr, reply), 0);
  EXPECT_EQ(plainBody(server.lastRequest()), "action=search&string=blues");
  EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(CatalogueRequestsTest, SearchBodySendsOnlyWhatIsSet) {
  SearchCriteria c;
  c.text = "x";
  c.groupId = 3;
  c.fetch = 20;
  c.minSize = 10;
  c.fileKind = SearchCriteria::kOtherKind;
  c.fileType = "iso";
  c.onlineOnly = true;
  std::tm day{};
  day.tm_year = 126;
  day.tm_mon = 2;
  day.tm_mday = 4;
  day.tm_hour = 12;
  day.tm_isdst = -1;
  c.maxDate = std::mktime(&day);
  EXPECT_EQ(searchBody(c),
            "action=search&string=x&groupid=3&fetch=20&minsize=10&maxdate=03/04/26&filekind=7&filetype=iso&onlineonly=1");
  c.minDate = SearchCriteria::notSet();
  EXPECT_EQ(searchBody(c).find("mindate"), std::string::npos);
}

// A name's "&", "=", "%" and "+" would end its field, add fields or change
// under the server's decoding: they go out as %XX; every other byte, and so
// every name without them, goes out as it always did.
TEST_F(CatalogueRequestsTest, TextValuesAreEncodedOnlyWhereTheyWouldBreakTheForm) {
  struct Case {
    const char* text;
    const char* sent;
  } cases[] = {
      {"Rock & Roll", "Rock %26 Roll"},
      {"a=b&c=d", "a%3Db%26c%3Dd"},
      {"100% c+d", "100%25 c%2Bd"},
      {"Live #1 \"x\" 'y' \xC3\xA9t\xC3\xA9 / :", "Live #1 \"x\" 'y' \xC3\xA9t\xC3\xA9 / :"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(requestValue(c.text), c.sent);
    SearchCriteria search;
    search.text = c.text;
    EXPECT_EQ(searchBody(search), std::string("action=search&string=") + c.sent);
    GroupEntry group;
    group.name = c.text;
    group.description = c.text;
    EXPECT_EQ(createGroupBody(group, 4).rfind(std::string("action=creategroup&groupname=") + c.sent + "&parentid=4", 0),
              0u);
    EXPECT_NE(createGroupBody(group, 4).find(std::string("&description=") + c.sent + "&"), std::string::npos);
  }
}

TEST_F(CatalogueRequestsTest, SearchPageChecks) {
  SearchCriteria c;
  EXPECT_EQ(searchCriteriaProblem(c), "You must enter a search string");
  c.text = "x";
  c.fileKind = SearchCriteria::kOtherKind;
  EXPECT_EQ(searchCriteriaProblem(c), "You must enter a file type in 'Other'");
  c.fileKind = 0;
  c.minSize = 5;  // an empty maximum counts as 0
  EXPECT_EQ(searchCriteriaProblem(c), "The minimum file size must be less than or equal to the maximum file size");
  c.maxSize = 5;
  EXPECT_EQ(searchCriteriaProblem(c), "");
}

TEST_F(CatalogueRequestsTest, DirectoryAndGroupCreation) {
  struct Case { const char* name; const char* reply; int want; int32_t id; };
  const Case dirCases[] = {
      {"new ID", "result=0&dirid=33&", 0, 33},
      {"no ID", "result=0&", catalogue::kNoDirectoryId, -5},
      {"refused", "result=7&", 507, -5},
  };
  for (const Case& c : dirCases) {
    SCOPED_TRACE(c.name);
    ScriptedHttpServer server(ScriptedHttpServer::reply(c.reply));
    useServer(server.port());
    int32_t id = -5;
    EXPECT_EQ(CreateDirectory(ctx, "New Dir", 12, &id), c.want);
    EXPECT_EQ(id, c.id);
    EXPECT_EQ(plainBody(server.lastRequest()), "action=createdir&dirname=New Dir&parent=12");
  }
  const Case groupCases[] = {
      {"new ID", "result=0&groupid=88&", 0, 88},
      {"zero ID", "result=0&groupid=0&", catalogue::kZeroGroupId, 0},
      {"no ID", "result=0&", 0, -1},
      {"name in use", "result=110&", 610, 0},
  };
  for (const Case& c : groupCases) {
    SCOPED_TRACE(c.name);
    ScriptedHttpServer server(ScriptedHttpServer::reply(c.reply));
    useServer(server.port());
    GroupEntry g;
    g.name = "Jazz";
    g.description = "all jazz";
    g.perm = 1;
    g.memb = 2;
    g.personal = true;
    EXPECT_EQ(CreateGroup(ctx, g, 4), c.want);
    EXPECT_EQ(g.id, c.id);
    EXPECT_EQ(plainBody(server.lastRequest()),
              "action=creategroup&groupname=Jazz&parentid=4&description=all jazz&perm=1&memb=2&personal=1");
  }
}

TEST_F(CatalogueRequestsTest, DirectoryNames) {
  // A name's "&" and ":" come encoded, and are decoded.
  ScriptedHttpServer server(
      ScriptedHttpServer::reply("result=0&a=Music:12&b=Video:13&c=Rock%20%26%20Roll%3A%20Live:14&"));
  useServer(server.port());
  std::vector<std::string> names;
  std::vector<int32_t> ids;
  ASSERT_EQ(GetDirectoryNames(ctx, 9, names, ids), 0);
  EXPECT_EQ(names, (std::vector<std::string>{"Music", "Video", "Rock & Roll: Live"}));
  EXPECT_EQ(ids, (std::vector<int32_t>{12, 13, 14}));
  server.setHandler(ScriptedHttpServer::reply("result=0&a=&"));
  EXPECT_EQ(GetDirectoryNames(ctx, 9, names, ids), catalogue::kDirectoryListingEmpty);
}

TEST(CatalogueListing, ParseListingBuildsEntriesOfKnownTypes) {
  const EntryList entries = ParseListing(
      "type=1&name=Music&numgroups=4&hasgroups=1&id=2&&"
      "type=5&name=odd&&"
      "name=untyped&&"
      "type=2&name=Jazz+Fans&memb=1&perm=2&status=3&personal=1&filecount=10:4&id=8&ownerid=9&&"
      "type=3&name=Live&id=11&&"
      "type=4&name=a%26b.mp3&id=3&url=http://x/&size=5000000000&rating=4&online=1");
  ASSERT_EQ(entries.size(), 4u);
  const auto& cat = static_cast<const CategoryEntry&>(*entries[0]);
  EXPECT_EQ(cat.name, "Music");
  EXPECT_EQ(cat.numGroups, 4);
  EXPECT_TRUE(cat.hasGroups);
  const auto& group = static_cast<const GroupEntry&>(*entries[1]);
  EXPECT_EQ(group.name, "Jazz Fans");
  EXPECT_EQ(group.fileCount, 10);
  EXPECT_EQ(group.fileCountOther, 4);
  EXPECT_TRUE(group.personal);
  EXPECT_EQ(group.ownerId, 9);
  EXPECT_EQ(entries[2]->type, EntryType::Directory);
  const auto& file = static_cast<const FileEntry&>(*entries[3]);
  EXPECT_EQ(file.name, "a&b.mp3");
  EXPECT_EQ(file.size, 5000000000LL);
  EXPECT_EQ(file.online, 1);
}

TEST_F(CatalogueRequestsTest, CacheFilesListingsUnderTheirParents) {
  ScriptedHttpServer server(ScriptedHttpServer::reply("result=0&&type=1&name=Music&hasgroups=1&id=2&&type=3&name=D&id=5&"));
  useServer(server.port());
  CatalogueCache cache;
  ASSERT_EQ(cache.FetchListing(ctx, ListingKind::Category, 0), 0);
  ASSERT_NE(cache.category(0), nullptr);
  EXPECT_EQ(cache.category(0)->children.size(), 2u);
  ASSERT_NE(cache.category(2), nullptr);

  server.setHandler(ScriptedHttpServer::reply("result=0&&type=2&name=G&id=8&"));
  ASSERT_EQ(cache.FetchListing(ctx, ListingKind::Category, 2), 0);
  EXPECT_EQ(plainBody(server.lastRequest()), "action=getlisting&hasgroups=1&categoryid=2");
  ASSERT_EQ(cache.category(2)->children.size(), 1u);
  EXPECT_NE(cache.group(8), nullptr);

  server.setHandler(ScriptedHttpServer::reply("result=2&"));
  EXPECT_EQ(cache.FetchListing(ctx, ListingKind::Directory, 5), 502);
}

}  // namespace
}  // namespace vantrel
