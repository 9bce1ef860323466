// SPDX-License-Identifier: MIT
#include "server/clients/catalogue_actions.h"

#include <gtest/gtest.h>

#include <map>

#include "server/central_server.h"
#include "server/clients/test_fixture.h"
#include "server/store/server_setup.h"

namespace vantrel::server {
namespace {

using testing::ServerFixture;
using testing::TestClient;

// The client's reading of a listing: pieces between "&&", URL-decoded pairs.
std::vector<std::map<std::string, std::string>> entries(const std::string& reply) {
  std::vector<std::map<std::string, std::string>> out;
  size_t pos = 0;
  while (pos <= reply.size()) {
    size_t end = reply.find("&&", pos);
    if (end == std::string::npos) end = reply.size();
    std::map<std::string, std::string> fields;
    const FormFields piece(reply.substr(pos, end - pos), FormFields::Decoding::kUrl);
    for (const auto& f : piece.fields()) {
      fields.emplace(f.name, f.value);
    }
    if (fields.count("type") != 0) out.push_back(fields);
    pos = end + 2;
  }
  return out;
}

class CatalogueActionsTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    ASSERT_TRUE(fillDemoCatalogue(catalogue));
    ASSERT_EQ(ReplyNumber(login(alice, "alice", "secret1", 1), "result="), 0);
  }
  int64_t groupNamed(const std::string& name) {
    for (int64_t id = 1; id < 100; ++id) {
      const auto n = catalogue.node(id);
      if (n && n->kind == 2 && n->name == name) return id;
    }
    return 0;
  }
  std::string join(const std::string& group, const std::string& extra = "") {
    const std::string id = std::to_string(groupNamed(group));
    return send(alice, "action=joingroup" + id + "&groupid=" + id + extra);
  }
  TestClient alice;
};

TEST_F(CatalogueActionsTest, JoiningFollowsEachMembershipPolicy) {
  struct Case {
    const char* group;
    std::string extra;
    int want;
  };
  const Case cases[] = {
      {"Open Music Lounge", "", 0},
      {"Jazz Collectors", "&comments=I like jazz", 100},
      {"Home Movies", "&password=wrong", 105},
      {"Home Movies", "&password=demo", 0},
      {"Film Club", "&password=nope", 105},
      {"Film Club", "", 100},
      {"Closed Archive", "", 104},
      {"Open Music Lounge", "", 101},  // already a member
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.group) + c.extra);
    EXPECT_EQ(ReplyNumber(join(c.group, c.extra), "result="), c.want);
  }
  EXPECT_EQ(catalogue.memberStatus(groupNamed("Jazz Collectors"), 1), 4);
  catalogue.setMemberStatus(groupNamed("Film Club"), 1, 5);
  EXPECT_EQ(ReplyNumber(join("Film Club", "&password=club"), "result="), 102);
}

TEST_F(CatalogueActionsTest, CreatingAGroupChecksNamePasswordAndPlace) {
  const int64_t music = 1;
  struct Case {
    const char* name;
    std::string body;
    int want;
  };
  const Case cases[] = {
      {"name too short", "&groupname=abc&parentid=1&perm=2&memb=4", 111},
      {"name taken", "&groupname=jazz collectors&parentid=1&perm=2&memb=4", 110},
      {"password too short", "&groupname=Secret Society&parentid=1&password=abc&perm=2&memb=1", 112},
      {"not a category for groups", "&groupname=Misplaced&parentid=3&perm=2&memb=4", 7},
      {"created", "&groupname=Night Owls&parentid=1&description=late&perm=0&memb=1&password=owls", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string reply = send(alice, "action=creategroup" + c.body);
    EXPECT_EQ(ReplyNumber(reply, "result="), c.want);
    EXPECT_EQ(ReplyText(reply, "groupid=", 20).has_value(), c.want == 0);
  }
  const int64_t owls = groupNamed("Night Owls");
  ASSERT_GT(owls, 0);
  EXPECT_EQ(catalogue.memberStatus(owls, 1), 1);  // the creator owns it
  EXPECT_EQ(catalogue.node(owls)->parentId, music);
  TestClient bob;
  login(bob, "bob", "hunter22", 5, "127.0.0.6");
  const std::string id = std::to_string(owls);
  EXPECT_EQ(ReplyNumber(send(bob, "action=joingroup" + id + "&groupid=" + id + "&password=owls", "127.0.0.6"), "result="),
            0);
}

TEST_F(CatalogueActionsTest, GroupListAnswersMatchesWhenTheClientsChecksumIsCurrent) {
  ASSERT_EQ(ReplyNumber(join("Open Music Lounge"), "result="), 0);
  ASSERT_EQ(ReplyNumber(join("Linux Tools"), "result="), 0);
  const std::string full = send(alice, "action=getallgroups&checksum=0");
  EXPECT_EQ(ReplyNumber(full, "result="), 0);
  EXPECT_EQ(full.find("matches=1"), std::string::npos);
  const auto groups = entries(full);
  ASSERT_EQ(groups.size(), 2u);
  int64_t sum = 0;
  for (const auto& g : groups) {
    EXPECT_EQ(g.at("type"), "2");
    EXPECT_EQ(g.at("status"), "2");
    EXPECT_EQ(g.at("memb"), "4");
    EXPECT_EQ(g.at("filecount"), "0:1");
    sum += std::stoll(g.at("id"));
  }
  const std::string current = send(alice, "action=getallgroups&checksum=" + std::to_string(sum % 1000000));
  EXPECT_EQ(current, "result=0&matches=1&");
}

TEST_F(CatalogueActionsTest, ListingsCarryCategoriesGroupsDirectoriesAndFiles) {
  const auto top = entries(send(alice, "action=getlisting&categoryid=0"));
  ASSERT_EQ(top.size(), 4u);
  EXPECT_EQ(top[0].at("type"), "1");
  EXPECT_EQ(top[0].at("name"), "Documents");
  EXPECT_EQ(top[0].at("hasgroups"), "1");

  const auto music = entries(send(alice, "action=getlisting&hasgroups=1&categoryid=1"));
  ASSERT_EQ(music.size(), 2u);
  EXPECT_EQ(music[0].at("type"), "2");
  EXPECT_EQ(music[0].at("name"), "Jazz Collectors");
  EXPECT_EQ(music[0].at("perm"), "0");

  const int64_t lounge = groupNamed("Open Music Lounge");
  ASSERT_EQ(ReplyNumber(join("Open Music Lounge"), "result="), 0);
  const std::string add = send(alice, "action=add_file&dirid=" + std::to_string(lounge) +
                                          "&cfileid=0&filename=Rock %26 Roll%3Dfun%2B50%25.mp3&filesize=4096&keywords=&filetype=mp3");
  ASSERT_EQ(ReplyNumber(add, "result="), 0);
  TestClient bob;
  login(bob, "bob", "hunter22", 5, "127.0.0.6");
  const auto listing = entries(send(bob, "action=getlisting&dirid=" + std::to_string(lounge), "127.0.0.6"));
  ASSERT_EQ(listing.size(), 3u);  // Classical, Rock, the file
  EXPECT_EQ(listing[0].at("type"), "3");
  const auto& file = listing[2];
  EXPECT_EQ(file.at("type"), "4");
  EXPECT_EQ(file.at("name"), "Rock & Roll=fun+50%.mp3");  // as the client had it before encoding
  EXPECT_EQ(file.at("size"), "4096");
  EXPECT_EQ(file.at("online"), "1");
  // The link goes to alice's file server with a token for bob's address.
  const std::string url = file.at("url");
  ASSERT_EQ(url.rfind("http://127.0.0.5:1/getfile/?fileid=" + file.at("id") + "&username=bob&@token=", 0), 0u) << url;
  const std::string token = base64Decode(url.substr(url.find("@token=") + 7));
  EXPECT_EQ(alice.key.DecryptText(token), "127.0.0.6$" + std::to_string(lounge));

  EXPECT_EQ(ReplyNumber(send(bob, "action=getlisting&dirid=99999", "127.0.0.6"), "result="), 6);

  // One file by its ID: the same entry, with a link made now.
  const auto one = entries(send(bob, "action=getlisting&fileid=" + file.at("id"), "127.0.0.6"));
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].at("name"), file.at("name"));
  EXPECT_EQ(one[0].at("online"), "1");
  EXPECT_EQ(one[0].at("url").rfind("http://127.0.0.5:1/getfile/?fileid=" + file.at("id") + "&username=bob&@token=", 0),
            0u);
  EXPECT_EQ(ReplyNumber(send(bob, "action=getlisting&fileid=99999", "127.0.0.6"), "result="), 6);
}

TEST_F(CatalogueActionsTest, MembersOnlyGroupsListFilesWithoutLinksForOthers) {
  const int64_t reading = groupNamed("Reading Room");
  ASSERT_EQ(ReplyNumber(join("Reading Room"), "result="), 0);
  ASSERT_EQ(ReplyNumber(send(alice, "action=add_file&dirid=" + std::to_string(reading) +
                                        "&cfileid=0&filename=paper.pdf&filesize=1&keywords=&filetype=pdf"),
                        "result="),
            0);
  TestClient bob;
  login(bob, "bob", "hunter22", 5, "127.0.0.6");
  const auto listing = entries(send(bob, "action=getlisting&dirid=" + std::to_string(reading), "127.0.0.6"));
  ASSERT_EQ(listing.back().at("name"), "paper.pdf");
  EXPECT_EQ(listing.back().at("url"), "");
  const auto one = entries(send(bob, "action=getlisting&fileid=" + listing.back().at("id"), "127.0.0.6"));
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].at("url"), "");
  EXPECT_EQ(one[0].at("online"), "1");
}

TEST_F(CatalogueActionsTest, DirectoriesAreMadeNamedAndRemovedWithTheirFiles) {
  const int64_t lounge = groupNamed("Open Music Lounge");
  EXPECT_EQ(ReplyNumber(send(alice, "action=createdir&dirname=Mine&parent=" + std::to_string(lounge)), "result="), 121);
  ASSERT_EQ(ReplyNumber(join("Open Music Lounge"), "result="), 0);
  const std::string made = send(alice, "action=createdir&dirname=Live: 1999&parent=" + std::to_string(lounge));
  ASSERT_EQ(ReplyNumber(made, "result="), 0);
  const int64_t live = ReplyNumber(made, "dirid=");
  // Asking again for the same name gives the same directory.
  EXPECT_EQ(ReplyNumber(send(alice, "action=createdir&dirname=Live: 1999&parent=" + std::to_string(lounge)), "dirid="),
            live);
  EXPECT_EQ(ReplyNumber(send(alice, "action=createdir&dirname=x&parent=99999"), "result="), 6);

  // The client reads "NAME:ID", takes the text before the first ":" and
  // decodes it: a name's own ":" and "&" are encoded.
  const int64_t rock = ReplyNumber(send(alice, "action=createdir&dirname=Rock %26 Roll&parent=" + std::to_string(lounge)),
                                   "dirid=");
  ASSERT_GT(rock, 0);
  const std::string names = send(alice, "action=getdir&dirid=" + std::to_string(lounge));
  EXPECT_EQ(names.find("=&"), std::string::npos);
  EXPECT_NE(names.find("=Live%3A%201999:" + std::to_string(live) + "&"), std::string::npos) << names;
  EXPECT_NE(names.find("=Rock%20%26%20Roll:" + std::to_string(rock) + "&"), std::string::npos) << names;

  const std::string sub = send(alice, "action=createdir&dirname=Encore&parent=" + std::to_string(live));
  const int64_t encore = ReplyNumber(sub, "dirid=");
  ASSERT_EQ(ReplyNumber(send(alice, "action=add_file&dirid=" + std::to_string(encore) +
                                        "&cfileid=0&filename=song.ogg&filesize=1&keywords=&filetype=ogg"),
                        "result="),
            0);
  TestClient bob;
  login(bob, "bob", "hunter22", 5, "127.0.0.6");
  EXPECT_EQ(ReplyNumber(send(bob, "action=removedir&dirid=" + std::to_string(live), "127.0.0.6"), "result="), 121);
  EXPECT_EQ(ReplyNumber(send(alice, "action=removedir&dirid=" + std::to_string(live)), "result="), 0);
  EXPECT_FALSE(catalogue.node(encore).has_value());
  EXPECT_TRUE(catalogue.fileIds(alice.clientId).empty());
  EXPECT_EQ(ReplyNumber(send(alice, "action=removedir&dirid=" + std::to_string(encore)), "result="), 6);
}

TEST_F(CatalogueActionsTest, ABannedMemberCannotRemoveTheirOldDirectoryWithTheOthersFiles) {
  const int64_t lounge = groupNamed("Open Music Lounge");
  ASSERT_EQ(ReplyNumber(join("Open Music Lounge"), "result="), 0);
  const int64_t mine = ReplyNumber(send(alice, "action=createdir&dirname=Mine&parent=" + std::to_string(lounge)), "dirid=");
  ASSERT_GT(mine, 0);
  TestClient bob;
  login(bob, "bob", "hunter22", 5, "127.0.0.6");
  ASSERT_EQ(ReplyNumber(send(bob, "action=joingroup" + std::to_string(lounge) + "&groupid=" + std::to_string(lounge),
                             "127.0.0.6"),
                        "result="),
            0);
  ASSERT_EQ(ReplyNumber(send(bob, "action=add_file&dirid=" + std::to_string(mine) +
                                      "&cfileid=0&filename=bobs.ogg&filesize=1&keywords=&filetype=ogg",
                             "127.0.0.6"),
                        "result="),
            0);
  ASSERT_TRUE(catalogue.setMemberStatus(lounge, accounts.findUser("alice")->id, 5));  // banned
  EXPECT_EQ(ReplyNumber(send(alice, "action=removedir&dirid=" + std::to_string(mine)), "result="), 121);
  EXPECT_TRUE(catalogue.node(mine).has_value());
  EXPECT_EQ(catalogue.fileIds(bob.clientId).size(), 1u);
}

TEST_F(CatalogueActionsTest, SearchFindsNamesByWordPrefixAndAppliesItsFilters) {
  const int64_t lounge = groupNamed("Open Music Lounge");
  ASSERT_EQ(ReplyNumber(join("Open Music Lounge"), "result="), 0);
  std::string add = "action=add_file&dirid=" + std::to_string(lounge);
  const char* names[] = {"Blue Train.mp3", "blue_moon.ogg", "Kind of Blue.flac", "train schedule.pdf", "red.mp3"};
  const int sizes[] = {5000, 300, 90000, 10, 5000};
  for (int i = 0; i < 5; ++i) {
    add += "&cfileid=" + std::to_string(i) + "&filename=" + names[i] + "&filesize=" + std::to_string(sizes[i]) +
           "&keywords=&filetype=";
  }
  ASSERT_EQ(ReplyNumber(send(alice, add), "result="), 0);
  struct Case {
    const char* name;
    std::string params;
    std::vector<std::string> want;  // newest first
  };
  const Case cases[] = {
      {"prefix, any case", "&string=BLU", {"Kind of Blue.flac", "blue_moon.ogg", "Blue Train.mp3"}},
      {"every word", "&string=blue train", {"Blue Train.mp3"}},
      {"size range", "&string=blue&minsize=1000&maxsize=10000", {"Blue Train.mp3"}},
      {"kind MP3", "&string=blue&filekind=1", {"Blue Train.mp3"}},
      {"kind audio", "&string=blue&filekind=2", {"Kind of Blue.flac", "blue_moon.ogg", "Blue Train.mp3"}},
      {"other with type", "&string=train&filekind=7&filetype=PDF", {"train schedule.pdf"}},
      {"paged", "&string=blue&start=1&fetch=1", {"blue_moon.ogg"}},
      {"other group", "&string=blue&groupid=1", {}},
      {"query syntax is only text", "&string=\"train*(", {"train schedule.pdf", "Blue Train.mp3"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string reply = send(alice, "action=search" + c.params);
    ASSERT_EQ(ReplyNumber(reply, "result="), 0) << reply;
    std::vector<std::string> got;
    for (const auto& e : entries(reply)) got.push_back(e.at("name"));
    EXPECT_EQ(got, c.want);
  }
  EXPECT_EQ(ReplyNumber(send(alice, "action=search&string=blue&returncount=1&fetch=1"), "count="), 3);
  EXPECT_EQ(ReplyNumber(send(alice, "action=search&string="), "result="), 4);
  EXPECT_EQ(entries(send(alice, "action=search&string=red&onlineonly=1")).size(), 1u);
  clock += SessionTable::kOnlineSeconds + 1;  // alice's client falls silent
  TestClient bob;
  login(bob, "bob", "hunter22", 5, "127.0.0.6");
  EXPECT_EQ(entries(send(bob, "action=search&string=red&onlineonly=1", "127.0.0.6")).size(), 0u);
}

TEST(SearchDateTest, ReadsTheClientsDateFormat) {
  const auto d = parseSearchDate("03/15/07");
  ASSERT_TRUE(d.has_value());
  const std::time_t t = static_cast<std::time_t>(*d);
  std::tm tm{};
  localtime_r(&t, &tm);
  EXPECT_EQ(tm.tm_year + 1900, 2007);
  EXPECT_EQ(tm.tm_mon, 2);
  EXPECT_EQ(tm.tm_mday, 15);
  const auto y77 = parseSearchDate("01/01/77");
  ASSERT_TRUE(y77.has_value());
  EXPECT_FALSE(parseSearchDate("13/01/07").has_value());
  EXPECT_FALSE(parseSearchDate("yesterday").has_value());
  EXPECT_FALSE(parseSearchDate("01/01/07x").has_value());
}

// A client that stops pinging is dropped after the time-out: its files show
// offline without links, its next request is told to log in again, and a new
// login brings the links back. A user disabled meanwhile is dropped at once.
TEST_F(CatalogueActionsTest, SilentSessionsExpireAndComeBackWithALogin) {
  const int64_t lounge = groupNamed("Open Music Lounge");
  ASSERT_EQ(ReplyNumber(join("Open Music Lounge"), "result="), 0);
  ASSERT_EQ(ReplyNumber(send(alice, "action=add_file&dirid=" + std::to_string(lounge) +
                                        "&cfileid=0&filename=song.mp3&filesize=1&keywords=&filetype=mp3"),
                        "result="),
            0);
  const auto fileSeenByBob = [&](TestClient& bob) {
    const auto listing = entries(send(bob, "action=getlisting&dirid=" + std::to_string(lounge), "127.0.0.6"));
    EXPECT_FALSE(listing.empty());
    return listing.empty() ? std::map<std::string, std::string>{} : listing.back();
  };

  clock += 599;
  EXPECT_EQ(protocol.expireSessions(600), 0u);
  clock += 2;
  TestClient bob;
  login(bob, "bob", "hunter22", 5, "127.0.0.6");
  EXPECT_EQ(protocol.expireSessions(600), 1u);  // alice, silent for 601 s; bob just logged in
  auto file = fileSeenByBob(bob);
  EXPECT_EQ(file["online"], "0");
  EXPECT_EQ(file["url"], "");
  EXPECT_EQ(send(alice, "action=ping"), "error=1&");
  EXPECT_EQ(ReplyNumber(send(alice, "action=get_fileids"), "result="), 1);

  TestClient again;
  ASSERT_EQ(ReplyNumber(login(again, "alice", "secret1", 2), "result="), 0);
  file = fileSeenByBob(bob);
  EXPECT_EQ(file["online"], "1");
  EXPECT_NE(file["url"], "");

  ASSERT_TRUE(accounts.setDisabled(accounts.findUser("alice")->id, true));
  EXPECT_EQ(protocol.expireSessions(600), 1u);
  EXPECT_EQ(fileSeenByBob(bob)["online"], "0");
  TestClient refused;
  EXPECT_EQ(ReplyNumber(login(refused, "alice", "secret1", 3), "result="), 5);
}

}  // namespace
}  // namespace vantrel::server
