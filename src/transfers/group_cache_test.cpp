// SPDX-License-Identifier: MIT
#include "transfers/group_cache.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "net/scripted_http_server.h"
#include "net/socket_io.h"
#include "protocol/catalogue_cache.h"
#include "protocol/testing/protocol_fixture.h"

namespace vantrel {
namespace {

using protocol_testing::ProtocolFixture;
using testing::ScriptedHttpServer;

std::vector<uint8_t> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class GroupCacheTest : public ::testing::Test, public ProtocolFixture {
 protected:
  GroupCacheTest() { loggedIn(7); }
  std::string path() const { return GroupCache::pathFor(dir.path().string() + "/", "bob"); }
};

TEST(GroupCacheChecksumTest, SumsUpToNineThousandNineHundredNinetyNineIds) {
  std::vector<int32_t> tenThousand(10000, 1);
  std::vector<int32_t> justUnder(9999, 1);
  struct Case {
    const char* name;
    std::vector<int32_t> ids;
    int32_t want;
  } cases[] = {
      {"none", {}, 0},
      {"wraps past a million", {999999, 2}, 1},
      {"plain sum", {10, 20, 30}, 60},
      {"9,999 ids still count", justUnder, 9999},
      {"10,000 ids give 0", tenThousand, 0},
      {"large ids do not overflow", {2000000000, 2000000000}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GroupCacheChecksum(c.ids), c.want);
  }
}

TEST_F(GroupCacheTest, WithoutAFileTheCacheIsEmptyAndItsChecksumZero) {
  GroupCache cache(path());
  EXPECT_EQ(cache.checksum(), 0);
  EXPECT_TRUE(cache.ids().empty());
}

TEST_F(GroupCacheTest, FileHoldsAPlainCountAndUntaggedBodies) {
  GroupCache cache(path());
  cache.storeReply("result=0&&type=2&id=5&name=Jazz&memb=1&perm=2&status=1&filecount=12:3&ownerid=9&&"
                   "type=2&id=22&name=Blues&memb=4&");
  const std::vector<uint8_t> bytes = readAll(path());
  ASSERT_GE(bytes.size(), 9u);
  // 02 00 00 00, then the first group's name straight away. Keys 5 and 22 share
  // a bucket, whose chain starts at the newest entry.
  const std::vector<uint8_t> head(bytes.begin(), bytes.begin() + 10);
  EXPECT_EQ(head, (std::vector<uint8_t>{2, 0, 0, 0, 5, 'B', 'l', 'u', 'e', 's'}));
  EXPECT_EQ(bytes.size(), 4u + (1 + 5 + 1 + 40) + (1 + 4 + 1 + 40));

  GroupCache reread(path());
  // Reading inserts in file order, so the shared chain comes back reversed.
  EXPECT_EQ(reread.ids(), (std::vector<int32_t>{5, 22}));
  const auto jazz = reread.group(5);
  ASSERT_TRUE(jazz.has_value());
  EXPECT_EQ(jazz->name, "Jazz");
  EXPECT_EQ(jazz->membershipPolicy, membership::kPassword);
  EXPECT_EQ(jazz->downloadPermission, kPublicDownload);
  EXPECT_EQ(jazz->status, group_status::kOwner);
  EXPECT_EQ(jazz->fileCountA, 12);
  EXPECT_EQ(jazz->fileCountB, 3);
  EXPECT_EQ(jazz->entryType, 2);
  EXPECT_EQ(jazz->expandable, 1);
  EXPECT_EQ(jazz->ownerId, 0);  // not stored in the file
}

TEST_F(GroupCacheTest, BrokenFileLeavesTheIdListEmpty) {
  GroupCache cache(path());
  cache.storeReply("type=2&id=5&name=Jazz&&type=2&id=6&name=Rock&");
  std::vector<uint8_t> bytes = readAll(path());
  const struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"cut in the second body", std::vector<uint8_t>(bytes.begin(), bytes.end() - 3)},
      {"count larger than the file", std::vector<uint8_t>{0xff, 0xff, 0xff, 0x7f}},
      {"empty file", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeAll(path(), c.bytes);
    GroupCache reread(path());
    EXPECT_TRUE(reread.ids().empty());
    EXPECT_EQ(reread.checksum(), 0);
  }
}

TEST_F(GroupCacheTest, SyncSendsTheChecksumAndKeepsTheFileWhenCurrent) {
  GroupCache cache(path());
  cache.storeReply("type=2&id=5&name=Jazz&");
  const auto before = readAll(path());
  const auto stamp = std::filesystem::last_write_time(path());

  ScriptedHttpServer server(ScriptedHttpServer::reply("result=0&matches=1&"));
  useServer(server.port());
  EXPECT_EQ(cache.SyncGroups(ctx), 0);
  EXPECT_EQ(plainBody(server.lastRequest()), "action=getallgroups&checksum=5");
  EXPECT_EQ(readAll(path()), before);
  EXPECT_EQ(std::filesystem::last_write_time(path()), stamp);

  server.setHandler(ScriptedHttpServer::reply("result=6&"));
  EXPECT_EQ(cache.SyncGroups(ctx), 506);
  EXPECT_EQ(cache.ids(), std::vector<int32_t>{5});
}

TEST_F(GroupCacheTest, SyncReplacesTheIdListAndKeepsUnmentionedGroupsInTheMap) {
  CatalogueCache catalogue;
  GroupCache cache(path(), &catalogue);
  cache.storeReply("type=2&id=5&name=Jazz&&type=2&id=6&name=Rock&");

  ScriptedHttpServer server(ScriptedHttpServer::reply("result=0&&type=2&id=6&name=Rock2&&type=2&id=40&name=Folk&"));
  useServer(server.port());
  EXPECT_EQ(cache.SyncGroups(ctx), 0);
  EXPECT_EQ(cache.ids(), (std::vector<int32_t>{6, 40}));
  EXPECT_EQ(cache.size(), 3u);
  EXPECT_EQ(cache.group(6)->name, "Rock2");
  EXPECT_EQ(cache.checksum(), 46);
  ASSERT_NE(catalogue.group(40), nullptr);
  EXPECT_EQ(catalogue.group(40)->name, "Folk");

  // The file holds all three, and a fresh cache lists all three again.
  EXPECT_EQ(GroupCache(path()).ids().size(), 3u);
}

TEST_F(GroupCacheTest, AForcedSyncBringsFreshCountsForTheSameGroups) {
  GroupCache cache(path());
  cache.storeReply("type=2&id=5&name=Jazz&status=1&filecount=2:1&");
  // The server answers "matches" for the current IDs, whatever the counts.
  ScriptedHttpServer server([&](int fd, const std::string& request) {
    const std::string body = plainBody(request);
    sendText(fd, std::string("HTTP/1.0 200 OK\r\n\r\n") +
                     (body == "action=getallgroups&checksum=5" ? "result=0&matches=1&"
                                                                : "result=0&&type=2&id=5&name=Jazz&status=1&filecount=5:2&"));
  });
  useServer(server.port());
  EXPECT_EQ(cache.SyncGroups(ctx), 0);
  EXPECT_EQ(cache.listedGroups()[0].fileCountA, 2);  // stale, as the checksum cannot tell

  EXPECT_EQ(cache.SyncGroups(ctx, true), 0);
  EXPECT_EQ(plainBody(server.lastRequest()), "action=getallgroups&checksum=-1");
  const CGroupEntry fresh = GroupCache(path()).listedGroups().at(0);  // from the file written again
  EXPECT_EQ(fresh.fileCountA, 5);
  EXPECT_EQ(fresh.memberCount, 2);
  EXPECT_EQ(fresh.toListing().fileCountOther, 2);  // "Members"
}

TEST_F(GroupCacheTest, AnApplicationIsListedPendingUntilTheServerListsTheGroup) {
  GroupCache cache(path());
  cache.storeReply("type=2&id=5&name=Jazz&status=1&");
  GroupEntry applied;
  applied.id = 8;
  applied.name = "Apply & Wait";
  applied.memb = membership::kApply;
  applied.status = 0;
  cache.markPending(applied);

  auto pendingOf = [](const std::vector<CGroupEntry>& groups) {
    std::vector<std::string> out;
    for (const CGroupEntry& g : groups) out.push_back(g.name + " " + std::string(groupStatusLabel(g.toListing())));
    return out;
  };
  EXPECT_EQ(pendingOf(cache.listedGroups()), (std::vector<std::string>{"Jazz Owner", "Apply & Wait Pending"}));
  EXPECT_EQ(cache.checksum(), 5);  // not the server's to compare
  // Kept in the file, and through an answer that does not list it yet.
  EXPECT_EQ(pendingOf(GroupCache(path()).listedGroups()).back(), "Apply & Wait Pending");
  cache.storeReply("type=2&id=5&name=Jazz&status=1&");
  EXPECT_EQ(pendingOf(cache.listedGroups()).back(), "Apply & Wait Pending");
  // Admitted: the server lists it, and it is the user's like the others.
  cache.storeReply("type=2&id=5&name=Jazz&status=1&&type=2&id=8&name=Apply+%26+Wait&status=2&");
  EXPECT_EQ(pendingOf(cache.listedGroups()), (std::vector<std::string>{"Jazz Owner", "Apply & Wait Member"}));
}

TEST(GroupLabelsTest, StatusIsTheMembershipWhereThereIsOne) {
  auto label = [](int status, int memb, bool pending) {
    GroupEntry g;
    g.status = status;
    g.memb = memb;
    g.pending = pending;
    return std::string(groupStatusLabel(g));
  };
  EXPECT_EQ(label(group_status::kOwner, membership::kApply, false), "Owner");
  EXPECT_EQ(label(group_status::kAdministrator, membership::kApply, false), "Administrator");
  EXPECT_EQ(label(group_status::kMember, membership::kAdmitAll, false), "Member");
  EXPECT_EQ(label(0, membership::kApply, true), "Pending");
  EXPECT_EQ(label(0, membership::kAdmitAll, false), "Admit All");
}

TEST(GroupLabelsTest, MembershipPolicyLabels) {
  const std::pair<int32_t, const char*> cases[] = {{0, "Apply"},    {1, "Password"},  {2, "Apply/Password"},
                                                   {3, "Deny All"}, {4, "Admit All"}, {5, "Unknown"},
                                                   {-1, "Unknown"}};
  for (const auto& [policy, label] : cases) EXPECT_EQ(membershipPolicyLabel(policy), label) << policy;
}

TEST(GroupWizardTest, ChecksNameAndPassword) {
  using M = GroupWizardChoice::Membership;
  struct Case {
    const char* name;
    GroupWizardChoice choice;
    std::string want;
  } cases[] = {
      {"short name", {M::AcceptAll, {}, "abc", "", ""}, "Group name must be at least 4 characters"},
      {"accept all needs no password", {M::AcceptAll, {}, "abcd", "", ""}, ""},
      {"short password", {M::RequirePassword, {}, "abcd", "abc", "abc"}, "Password must be at least 4 characters"},
      {"confirmation differs", {M::RequirePassword, {}, "abcd", "abcd", "abce"},
       "Password and confirmed password do not match"},
      {"good password", {M::RequirePassword, {}, "abcd", "abcd", "abcd"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.choice.problem(), c.want);
  }
}

TEST(GroupWizardTest, ChoicesMapToPolicyAndPermission) {
  using M = GroupWizardChoice::Membership;
  using D = GroupWizardChoice::Download;
  CGroupEntry entry;
  GroupWizardChoice{M::AcceptAll, D::Public, "abcd", "", ""}.applyTo(entry);
  EXPECT_EQ(entry.membershipPolicy, membership::kAdmitAll);
  EXPECT_EQ(entry.downloadPermission, 0);  // a fresh entry keeps 0
  entry.downloadPermission = 1;
  GroupWizardChoice{M::RequirePassword, D::Public, "abcd", "pass", "pass"}.applyTo(entry);
  EXPECT_EQ(entry.membershipPolicy, membership::kPassword);
  EXPECT_EQ(entry.password, "pass");
  EXPECT_EQ(entry.downloadPermission, kPublicDownload);

  // Shown again: 0 selects Apply, 1 Require Password, anything else Accept All.
  const std::pair<int32_t, M> shown[] = {{0, M::Apply}, {1, M::RequirePassword}, {2, M::AcceptAll}, {4, M::AcceptAll}};
  for (const auto& [policy, want] : shown) {
    entry.membershipPolicy = policy;
    EXPECT_EQ(GroupWizardChoice::forEntry(entry).membership, want) << policy;
  }
  entry.downloadPermission = 1;
  EXPECT_EQ(GroupWizardChoice::forEntry(entry).download, D::Member);
}

}  // namespace
}  // namespace vantrel
