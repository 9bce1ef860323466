// SPDX-License-Identifier: MIT
#include "server/clients/client_protocol.h"
#include "server/web/web_site.h"

#include <gtest/gtest.h>

#include <cstring>

#include "server/clients/test_fixture.h"

namespace vantrel::server {
namespace {

using testing::ServerFixture;
using testing::TestClient;

class ClientProtocolTest : public ServerFixture {};

// A UDP ping as the client builds it: length byte, cipher, UDP port, client ID.
std::string pingDatagram(const SessionKey& key, const std::string& text, uint32_t udpPort, uint32_t clientId) {
  const std::string cipher = key.EncryptText(text);
  std::string d(1, static_cast<char>(cipher.size() % 256));
  d += cipher;
  for (const uint32_t v : {udpPort, clientId}) {
    for (int i = 0; i < 4; ++i) d += static_cast<char>((v >> (8 * i)) & 0xff);
  }
  return d;
}

TEST_F(ClientProtocolTest, LoginAnswersEveryFieldTheClientReads) {
  TestClient alice;
  const std::string reply = login(alice, "alice", "secret1", 1, "127.0.0.5");
  EXPECT_EQ(ReplyNumber(reply, "result="), 0);
  EXPECT_GT(alice.clientId, 0);
  EXPECT_EQ(ReplyText(reply, "clientid=", 100), std::to_string(alice.clientId));
  EXPECT_GT(ReplyNumber(reply, "userid="), 0);
  EXPECT_EQ(ReplyNumber(reply, "clientver="), 201);
  EXPECT_EQ(ReplyNumber(reply, "checksum="), 0);
  EXPECT_EQ(ReplyText(reply, "ip=", 100), "127.0.0.5");
  EXPECT_EQ(reply.find("previousip="), std::string::npos);
  EXPECT_EQ(reply.back(), '&');

  // The client remembers its ID and later sends only that.
  SessionKey again;
  const std::string second = protocol.login(
      FormFields(loginBody("alice", "secret1", again, 2, alice.clientId), FormFields::Decoding::kRaw), "127.0.0.5");
  EXPECT_EQ(ReplyNumber(second, "result="), 0);
  EXPECT_EQ(ReplyText(second, "clientid=", 100), std::to_string(alice.clientId));
}

TEST_F(ClientProtocolTest, RefusedLoginsAnswerTheirCodeAndOpenNoSession) {
  struct Case {
    const char* name;
    std::string body;
    int want;
  };
  SessionKey k;
  const std::string wrongPassword = loginBody("alice", "not-it", k, 3);
  const std::string unknownUser = loginBody("nobody", "secret1", k, 3);
  const std::string unknownClient = loginBody("alice", "secret1", k, 3, 987654);
  std::string noSalt = loginBody("alice", "secret1", k, 3);
  noSalt.erase(noSalt.find("&s="), noSalt.find("&username") - noSalt.find("&s="));
  std::string otherName = loginBody("alice", "secret1", k, 3);
  otherName.replace(otherName.find("username=alice"), 14, "username=bob");
  const Case cases[] = {
      {"wrong password", wrongPassword, 5},
      {"unknown user", unknownUser, 5},
      {"unknown client ID", unknownClient, 5},
      {"no salt", noSalt, 4},
      {"verify made for another user", otherName, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string reply = protocol.login(FormFields(c.body, FormFields::Decoding::kRaw), "127.0.0.5");
    EXPECT_EQ(ReplyNumber(reply, "result="), c.want);
    EXPECT_FALSE(ReplyText(reply, "clientid=", 100).has_value());
  }
  EXPECT_EQ(sessions.size(), 0u);
}

TEST_F(ClientProtocolTest, PasswordGuessingFromOneAddressIsCutOffForAWhile) {
  TestClient owner;
  ASSERT_EQ(ReplyNumber(login(owner, "alice", "secret1", 9, "127.0.0.5"), "result="), 0);
  for (int i = 0; i < LoginThrottle::kMaxFailures; ++i) {
    TestClient guess;
    ASSERT_EQ(ReplyNumber(login(guess, "alice", "guess" + std::to_string(i), static_cast<uint8_t>(10 + i), "127.0.0.8"),
                          "result="),
              5);
  }
  TestClient right;
  EXPECT_EQ(ReplyNumber(login(right, "alice", "secret1", 40, "127.0.0.8"), "result="), 5);
  // The real user at the address she signed in from before is not locked
  // out, and the guesser's address is let in again once the window has passed.
  EXPECT_EQ(ReplyNumber(login(right, "alice", "secret1", 41, "127.0.0.5"), "result="), 0);
  clock += LoginThrottle::kWindowSeconds;
  EXPECT_EQ(ReplyNumber(login(right, "alice", "secret1", 42, "127.0.0.8"), "result="), 0);
}

TEST_F(ClientProtocolTest, GuessesFromManyAddressesAreSlowedPerAccountButTheOwnersAddressStaysOpen) {
  std::vector<std::string> logged;
  ctx.log = [&](LogLevel, const std::string& line) { logged.push_back(line); };
  WebSite web(ctx, "127.0.0.1");
  TestClient owner;
  ASSERT_EQ(ReplyNumber(login(owner, "alice", "secret1", 1, "127.0.0.5"), "result="), 0);
  // 90 guesses from 10 addresses, 9 each (under the per-address limit), all
  // within a few seconds; every tenth comes through the web site.
  uint8_t salt = 10;
  for (int address = 0; address < 10; ++address) {
    const std::string from = "127.0.1." + std::to_string(address + 1);
    for (int i = 0; i < 9; ++i) {
      if (i == 8) {
        HttpRequest r;
        r.method = "POST";
        r.path = r.target = "/login.jsp";
        r.body = "username=alice&password=guess" + std::to_string(i);
        EXPECT_EQ(web.handle(r, from).status, 401);
        continue;
      }
      TestClient guess;
      EXPECT_EQ(ReplyNumber(login(guess, "alice", "guess" + std::to_string(i), salt++, from), "result="), 5);
    }
    clock += 1;
  }
  std::size_t throttled = 0;
  for (const auto& line : logged) throttled += line.find("throttled") != std::string::npos ? 1 : 0;
  // Only the first few were checked: after five failures each attempt waits
  // a doubling delay, and these came faster than it.
  EXPECT_GE(throttled, 70u);
  TestClient right;
  EXPECT_EQ(ReplyNumber(login(right, "alice", "secret1", salt++, "127.0.2.1"), "result="), 5);
  // The owner's own address is never held up by someone else's guesses.
  EXPECT_EQ(ReplyNumber(login(right, "alice", "secret1", salt++, "127.0.0.5"), "result="), 0);
  // Once the delay has passed, the right password gets in from anywhere.
  clock += LoginThrottle::kMaxDelaySeconds;
  EXPECT_EQ(ReplyNumber(login(right, "alice", "secret1", salt++, "127.0.2.1"), "result="), 0);
}

TEST_F(ClientProtocolTest, ANewPasswordEndsTheAccountsWebAndClientSessions) {
  TestClient alice;
  ASSERT_EQ(ReplyNumber(login(alice, "alice", "secret1", 1), "result="), 0);
  const int64_t id = accounts.findUser("alice")->id;
  const std::string web = accounts.newWebSession(id, clock);
  ASSERT_TRUE(accounts.webSessionUser(web, clock).has_value());
  // The same password again changes nothing.
  ASSERT_EQ(accounts.createOrUpdateUser("alice", "secret1"), AccountStore::Result::kOk);
  EXPECT_TRUE(accounts.loadSession(alice.clientId).has_value());
  ASSERT_EQ(accounts.setPassword(id, "another-secret"), AccountStore::Result::kOk);
  EXPECT_FALSE(accounts.webSessionUser(web, clock).has_value());
  EXPECT_FALSE(accounts.loadSession(alice.clientId).has_value());
  // This process forgets the session at its next flush of pings.
  const std::string datagram = pingDatagram(alice.key, "secid=&load=1", 8324, alice.clientId);
  ASSERT_TRUE(protocol.handlePing(datagram, "127.0.0.5").has_value());
  protocol.flushPings();
  EXPECT_EQ(*protocol.handlePing(datagram, "127.0.0.5"), "error=1&");
}

TEST_F(ClientProtocolTest, ReplayedLoginFromAnotherAddressIsRefusedAndLeavesTheSession) {
  TestClient alice;
  SessionKey k;
  const std::string body = loginBody("alice", "secret1", k, 7);
  ASSERT_EQ(ReplyNumber(protocol.login(FormFields(body, FormFields::Decoding::kRaw), "127.0.0.5"), "result="), 0);
  // The same machine repeating itself within the second is let through...
  EXPECT_EQ(ReplyNumber(protocol.login(FormFields(body, FormFields::Decoding::kRaw), "127.0.0.5"), "result="), 0);
  // ...someone else sending the recorded login is not.
  EXPECT_EQ(ReplyNumber(protocol.login(FormFields(body, FormFields::Decoding::kRaw), "127.6.6.6"), "result="), 8);
  const auto session = sessions.all().at(0);
  EXPECT_EQ(session->seenIp, "127.0.0.5");
}

TEST_F(ClientProtocolTest, RecordedRequestsSentAgainChangeNothing) {
  TestClient alice;
  const int64_t group = aliceInOpenGroup(alice);
  const std::string g = std::to_string(group);
  // What someone listening on the way keeps: the encrypted bodies, as sent.
  const auto sealed = [&](const std::string& form) { return base64Encode(alice.key.EncryptText(form)); };
  const auto sendSealed = [&](const std::string& body, const std::string& ip) {
    return protocol.encryptedRequest(alice.clientId, body, ip);
  };
  const std::string addSong =
      sealed("action=add_file&dirid=" + g + "&cfileid=0&filename=song.mp3&filesize=100&keywords=&filetype=mp3");
  const std::string makeDir = sealed("action=createdir&parent=" + g + "&dirname=Live");
  const std::string song = sendSealed(addSong, "127.0.0.5");
  const int64_t songId = ReplyNumber(song, "fileid=");
  ASSERT_GT(songId, 0);
  const std::string dir = sendSealed(makeDir, "127.0.0.5");
  ASSERT_EQ(ReplyNumber(dir, "result="), 0);
  const std::string notes = send(alice, "action=add_file&dirid=" + g +
                                            "&cfileid=0&filename=notes.txt&filesize=5&keywords=&filetype=txt");
  const int64_t notesId = ReplyNumber(notes, "fileid=");
  const std::string removeNotes = sealed("action=remove_file&fileid=" + std::to_string(notesId));
  ASSERT_EQ(sendSealed(removeNotes, "127.0.0.5"), "result=0&");
  const std::string ping = sealed("action=ping");

  struct Case {
    const char* name;
    std::string body;
    const char* from;
    std::string want;
  };
  const Case cases[] = {
      {"older add_file from another address", addSong, "127.6.6.6", "result=1&"},
      {"older add_file from the same address", addSong, "127.0.0.5", "result=1&"},
      {"createdir from another address", makeDir, "127.6.6.6", "result=1&"},
      {"createdir again", makeDir, "127.0.0.5", dir},
      {"remove_file from another address", removeNotes, "127.6.6.6", "result=1&"},
      {"remove_file again", removeNotes, "127.0.0.5", "result=0&"},
      {"ping from another address", ping, "127.6.6.6", "error=1&"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(sendSealed(c.body, c.from), c.want);
    EXPECT_EQ(catalogue.fileIds(alice.clientId), std::vector<int64_t>{songId});
    EXPECT_EQ(catalogue.directoriesIn(group).size(), 1u);
  }
  const std::string udp = pingDatagram(alice.key, "secid=&load=1&chkmsg=1", 9999, alice.clientId);
  EXPECT_EQ(protocol.handlePing(udp, "127.6.6.6"), "error=1&");
  EXPECT_NE(sessions.find(alice.clientId)->udpPort, 9999);
  // The session itself stays with its client.
  EXPECT_EQ(ReplyNumber(send(alice, "action=get_fileids"), "numfiles="), 1);
}

TEST_F(ClientProtocolTest, AnAddFileRecordedBeforeARemovalCannotBringTheFileBack) {
  TestClient alice;
  const int64_t group = aliceInOpenGroup(alice);
  const std::string add = "action=add_file&dirid=" + std::to_string(group) +
                          "&cfileid=0&filename=song.mp3&filesize=100&keywords=&filetype=mp3";
  const std::string recorded = base64Encode(alice.key.EncryptText(add));
  const int64_t first = ReplyNumber(protocol.encryptedRequest(alice.clientId, recorded, "127.0.0.5"), "fileid=");
  ASSERT_GT(first, 0);
  ASSERT_EQ(send(alice, "action=remove_file&fileid=" + std::to_string(first)), "result=0&");

  // Played back from the client's own address (behind the same router).
  EXPECT_EQ(protocol.encryptedRequest(alice.clientId, recorded, "127.0.0.5"), "result=1&");
  EXPECT_TRUE(catalogue.fileIds(alice.clientId).empty());

  // The client sharing the file again sends the very same bytes and hears the
  // same answer; it logs in again, as it does for every "result=1", and the
  // request under its new key goes through.
  ASSERT_EQ(ReplyNumber(login(alice, "alice", "secret1", 2), "result="), 0);
  const int64_t again = ReplyNumber(send(alice, add), "fileid=");
  EXPECT_GT(again, first);
  EXPECT_EQ(catalogue.fileIds(alice.clientId), std::vector<int64_t>{again});
  EXPECT_EQ(protocol.encryptedRequest(alice.clientId, recorded, "127.0.0.5"), "result=1&");
  EXPECT_EQ(catalogue.fileIds(alice.clientId), std::vector<int64_t>{again});
}

TEST_F(ClientProtocolTest, LoginFromASecondMachineNamesThePreviousAddressAfterItsOwn) {
  TestClient home;
  TestClient office;
  ASSERT_EQ(ReplyNumber(login(home, "alice", "secret1", 1, "127.0.0.5"), "result="), 0);
  const std::string reply = login(office, "alice", "secret1", 2, "127.0.0.9");
  EXPECT_EQ(ReplyNumber(reply, "result="), 0);
  // The client finds "ip=" by its first appearance; it must not land inside "previousip=".
  EXPECT_EQ(ReplyText(reply, "ip=", 100), "127.0.0.9");
  EXPECT_EQ(ReplyText(reply, "previousip=", 100), "127.0.0.5");
  // The session moved: the first machine's key no longer works.
  EXPECT_EQ(ReplyNumber(send(home, "action=get_fileids"), "result="), 1);

  // Once the first machine has been silent long enough it is no longer "sharing".
  clock += SessionTable::kOnlineSeconds + 1;
  TestClient third;
  EXPECT_FALSE(ReplyText(login(third, "alice", "secret1", 3, "127.0.0.7"), "previousip=", 100).has_value());
}

TEST_F(ClientProtocolTest, SharedFilesGetIdsInOrderAndTheChecksumFollowsEveryChange) {
  TestClient alice;
  const int64_t group = aliceInOpenGroup(alice);
  const std::string add = "action=add_file&dirid=" + std::to_string(group) +
                          "&cfileid=0&filename=a+b%.mp3&filesize=100&keywords=&filetype=mp3"
                          "&cfileid=1&filename=notes.txt&filesize=5&keywords=&filetype=txt";
  const std::string reply = send(alice, add);
  // "fileid" pairs first, one per file in request order, then the result.
  ASSERT_EQ(reply.rfind("fileid=", 0), 0u) << reply;
  const int64_t first = ReplyNumber(reply, "fileid=");
  const int64_t second = ReplyNumber(reply.substr(reply.find('&') + 1), "fileid=");
  EXPECT_GT(first, 0);
  EXPECT_GT(second, first);
  EXPECT_EQ(ReplyNumber(reply, "result="), 0);
  EXPECT_EQ(catalogue.file(first)->name, "a+b%.mp3");  // stored as sent, not URL-decoded

  const std::string ids = send(alice, "action=get_fileids");
  EXPECT_EQ(ReplyNumber(ids, "result="), 0);
  EXPECT_EQ(ReplyNumber(ids, "numfiles="), 2);
  EXPECT_NE(ids.find("fileid=" + std::to_string(first) + "&"), std::string::npos);

  const std::string datagram = pingDatagram(alice.key, "secid=&load=1&chkmsg=1", 8324, alice.clientId);
  const auto ping = protocol.handlePing(datagram, "127.0.0.5");
  ASSERT_TRUE(ping.has_value());
  EXPECT_EQ(alice.key.DecryptText(*ping), "chk=" + std::to_string((first + second) % 1000000) + "&chkmsg=0&");

  EXPECT_EQ(ReplyNumber(send(alice, "action=remove_file&fileid=" + std::to_string(first)), "result="), 0);
  const auto after = protocol.handlePing(datagram, "127.0.0.5");
  EXPECT_EQ(alice.key.DecryptText(*after), "chk=" + std::to_string(second % 1000000) + "&chkmsg=0&");

  // The same numbers in the login reply.
  TestClient again;
  EXPECT_EQ(ReplyNumber(login(again, "alice", "secret1", 9), "checksum="), second % 1000000);
}

TEST_F(ClientProtocolTest, SharingIsRefusedOutsideTheUsersGroups) {
  TestClient alice;
  const int64_t group = aliceInOpenGroup(alice);
  TestClient bob;
  ASSERT_EQ(ReplyNumber(login(bob, "bob", "hunter22", 4, "127.0.0.6"), "result="), 0);
  const std::string file = "&cfileid=0&filename=x.txt&filesize=1&keywords=&filetype=txt";
  EXPECT_EQ(ReplyNumber(send(bob, "action=add_file&dirid=" + std::to_string(group) + file, "127.0.0.6"), "result="),
            121);
  EXPECT_EQ(ReplyNumber(send(bob, "action=add_file&dirid=99999" + file, "127.0.0.6"), "result="), 120);
  EXPECT_TRUE(catalogue.fileIds(bob.clientId).empty());
  // A nameless file is refused on its own: the others still get their IDs.
  const std::string mixed = send(alice, "action=add_file&dirid=" + std::to_string(group) +
                                            "&cfileid=0&filename=&filesize=1&keywords=&filetype=" + file);
  EXPECT_EQ(ReplyNumber(mixed, "result="), 2);
  EXPECT_EQ(mixed.find("fileid="), mixed.find("&") + 1) << mixed;
}

TEST_F(ClientProtocolTest, ANameThatIsNotUtf8IsRepairedAndLoggedWhileTheRestIsShared) {
  std::vector<std::string> logged;
  ctx.log = [&](LogLevel, const std::string& line) { logged.push_back(line); };
  TestClient alice;
  const int64_t group = aliceInOpenGroup(alice);
  // An 8-bit name (0xE9 is "é" in Latin-1), a name cut inside a two-byte
  // character, and a plain one; PostgreSQL refuses text that is not UTF-8.
  const std::string longName = std::string(127, 'x') + "\xC3\xA9.txt";
  const std::string reply = send(alice, "action=add_file&dirid=" + std::to_string(group) +
                                            "&cfileid=0&filename=Caf%E9.mp3&filesize=3&keywords=&filetype=mp3"
                                            "&cfileid=1&filename=" + longName + "&filesize=4&keywords=%FF&filetype="
                                            "&cfileid=2&filename=plain.txt&filesize=5&keywords=&filetype=txt");
  EXPECT_EQ(ReplyNumber(reply, "result="), 0) << reply;
  const auto ids = catalogue.fileIds(alice.clientId);
  ASSERT_EQ(ids.size(), 3u);
  std::vector<std::string> names;
  for (const int64_t id : ids) names.push_back(catalogue.file(id)->name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Caf\xC3\xA9.mp3", "plain.txt", std::string(127, 'x')}));
  std::vector<std::string> repaired;
  for (const auto& line : logged) {
    if (line.find("not UTF-8") != std::string::npos) repaired.push_back(line);
  }
  ASSERT_EQ(repaired.size(), 1u);
  EXPECT_NE(repaired[0].find("\"Caf\xC3\xA9.mp3\""), std::string::npos) << repaired[0];
}

TEST_F(ClientProtocolTest, ARepeatedChangeRequestIsAnsweredWithoutDoingItTwice) {
  TestClient alice;
  const int64_t group = aliceInOpenGroup(alice);
  const std::string cipher = base64Encode(alice.key.EncryptText(
      "action=add_file&dirid=" + std::to_string(group) + "&cfileid=0&filename=x.txt&filesize=1&keywords=&filetype=txt"));
  const std::string first = protocol.encryptedRequest(alice.clientId, cipher, "127.0.0.5");
  const std::string again = protocol.encryptedRequest(alice.clientId, cipher, "127.0.0.5");
  EXPECT_EQ(first, again);
  EXPECT_EQ(catalogue.fileIds(alice.clientId).size(), 1u);
}

TEST_F(ClientProtocolTest, RequestsWithoutTheSessionKeyGetAnErrorAndChangeNothing) {
  TestClient alice;
  const int64_t group = aliceInOpenGroup(alice);
  const std::string add = "action=add_file&dirid=" + std::to_string(group) +
                          "&cfileid=0&filename=x.txt&filesize=1&keywords=&filetype=txt";
  SessionKey stranger;
  stranger.DeriveWithSalt("guess", std::array<uint8_t, 8>{});
  struct Case {
    const char* name;
    int64_t clientId;
    std::string crypted;
    std::string want;
  };
  const Case cases[] = {
      {"wrong key", alice.clientId, base64Encode(stranger.EncryptText(add)), "result=1&"},
      {"unknown session", 424242, base64Encode(alice.key.EncryptText(add)), "result=1&"},
      {"not Base64 of a cipher", alice.clientId, "!!!!", "result=1&"},
      {"cipher cut short", alice.clientId, base64Encode(alice.key.EncryptText(add).substr(0, 13)), "result=1&"},
      {"a ping for a lost session", 424242, base64Encode(alice.key.EncryptText("action=ping")), "error=1&"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(protocol.encryptedRequest(c.clientId, c.crypted, "127.0.0.5"), c.want);
  }
  // Sent in plain, by form POST: refused too.
  HttpRequest plain;
  plain.method = "POST";
  plain.path = "/clientrequest";
  plain.query = "clientid=" + std::to_string(alice.clientId);
  plain.body = add;
  EXPECT_EQ(protocol.handle(plain, "127.0.0.5").body, "result=1&");
  EXPECT_TRUE(catalogue.fileIds(alice.clientId).empty());
}

TEST_F(ClientProtocolTest, UdpPingsAreAnsweredOnlyForTheirSession) {
  TestClient alice;
  ASSERT_EQ(ReplyNumber(login(alice, "alice", "secret1", 1), "result="), 0);
  const auto cid = static_cast<uint32_t>(alice.clientId);
  const std::string good = pingDatagram(alice.key, "secid=&load=1", 8324, cid);
  clock += 100;
  const auto reply = protocol.handlePing(good, "127.0.0.5");
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(alice.key.DecryptText(*reply), "chk=0&chkmsg=0&");
  EXPECT_EQ(sessions.find(alice.clientId)->lastPing.load(), clock);
  EXPECT_EQ(sessions.find(alice.clientId)->udpPort.load(), 8324);

  SessionKey stranger;
  stranger.DeriveWithSalt("guess", std::array<uint8_t, 8>{});
  EXPECT_EQ(protocol.handlePing(pingDatagram(alice.key, "secid=", 8324, 4242), "127.0.0.5"), "error=1&");
  EXPECT_EQ(protocol.handlePing(pingDatagram(stranger, "secid=", 8324, cid), "127.0.0.5"), "error=1&");
  std::string badLength = good;
  badLength[0] = 3;
  EXPECT_FALSE(protocol.handlePing(badLength, "127.0.0.5").has_value());
  EXPECT_FALSE(protocol.handlePing(good.substr(0, 12), "127.0.0.5").has_value());
  EXPECT_FALSE(protocol.handlePing("", "127.0.0.5").has_value());
}

TEST_F(ClientProtocolTest, LogoutEndsTheSessionAndAHttpPingThenAsksForALogin) {
  TestClient alice;
  ASSERT_EQ(ReplyNumber(login(alice, "alice", "secret1", 1), "result="), 0);
  const std::string ping = send(alice, "action=ping");
  EXPECT_EQ(alice.key.DecryptText(ping), "chk=0&chkmsg=0&");
  EXPECT_EQ(send(alice, "action=logout"), "result=0&");
  EXPECT_EQ(sessions.size(), 0u);
  EXPECT_TRUE(accounts.loadSessions().empty());
  EXPECT_EQ(send(alice, "action=ping"), "error=1&");
  EXPECT_EQ(send(alice, "action=get_fileids"), "result=1&");
}

// The stored session is all a server process needs: after a restart, or in
// a second process on the same database, the client goes on with the key of
// its login, and the add_file requests it made stay spent.
TEST_F(ClientProtocolTest, SessionsSurviveARestart) {
  TestClient alice;
  const int64_t group = aliceInOpenGroup(alice);
  const auto addFile = [&](const std::string& name) {
    return base64Encode(alice.key.EncryptText("action=add_file&dirid=" + std::to_string(group) +
                                              "&cfileid=0&filename=" + name + "&filesize=1&keywords=&filetype=txt"));
  };
  const std::string first = addFile("a.txt");
  ASSERT_EQ(ReplyNumber(protocol.encryptedRequest(alice.clientId, first, "127.0.0.5"), "result="), 0);
  for (const bool restore : {true, false}) {
    SCOPED_TRACE(restore ? "restored at start" : "loaded on first use");
    SessionTable fresh;
    ServerContext restarted{accounts, catalogue, fresh, notifier, 201, [this] { return clock; }};
    ClientProtocol again(restarted);
    if (restore) again.restoreSessions();
    EXPECT_EQ(ReplyNumber(again.encryptedRequest(alice.clientId,
                                                 base64Encode(alice.key.EncryptText("action=get_fileids")), "127.0.0.5"),
                          "numfiles="),
              restore ? 1 : 2);
    EXPECT_EQ(again.encryptedRequest(alice.clientId, first, "127.0.0.5"), "result=1&");
    // Not from another address.
    EXPECT_EQ(again.encryptedRequest(alice.clientId, addFile(restore ? "b.txt" : "c.txt"), "127.0.0.99"),
              "result=1&");
    EXPECT_EQ(ReplyNumber(again.encryptedRequest(alice.clientId, addFile(restore ? "b.txt" : "c.txt"), "127.0.0.5"),
                          "result="),
              0);
  }
  EXPECT_EQ(catalogue.fileIds(alice.clientId).size(), 3u);
}

// Two server processes on one database: a client logs in through one, pings
// and asks the other, and a new login through the second moves the first on.
TEST_F(ClientProtocolTest, TwoProcessesServeOneClient) {
  SessionTable otherTable;
  ServerContext otherContext{accounts, catalogue, otherTable, notifier, 201, [this] { return clock; }};
  ClientProtocol other(otherContext);
  TestClient alice;
  ASSERT_EQ(ReplyNumber(login(alice, "alice", "secret1", 1), "result="), 0);
  const auto ping = [&](ClientProtocol& server, TestClient& client) {
    std::string datagram(1, '\x10');
    const std::string cipher = client.key.EncryptText("secid=&chkmsg=1");
    datagram[0] = static_cast<char>(cipher.size());
    datagram += cipher;
    for (const uint32_t v : {uint32_t{7110}, static_cast<uint32_t>(client.clientId)}) {
      for (int i = 0; i < 4; ++i) datagram += static_cast<char>((v >> (8 * i)) & 0xff);
    }
    const auto reply = server.handlePing(datagram, "127.0.0.5");
    if (!reply || *reply == "error=1&") return reply.value_or("(none)");
    return client.key.DecryptText(*reply);
  };
  EXPECT_EQ(ping(other, alice), "chk=0&chkmsg=0&");
  EXPECT_EQ(ReplyNumber(other.encryptedRequest(alice.clientId, base64Encode(alice.key.EncryptText("action=get_fileids")),
                                               "127.0.0.5"),
                        "numfiles="),
            0);
  // Pings through the second keep the client online for the first.
  clock += SessionTable::kOnlineSeconds;
  EXPECT_EQ(ping(other, alice), "chk=0&chkmsg=0&");
  other.flushPings();
  clock += 10;
  EXPECT_TRUE(sessions.online(alice.clientId, clock));
  EXPECT_EQ(protocol.expireSessions(SessionTable::kOnlineSeconds), 0u);

  // A new login through the second: the first takes the new key and drops the old.
  TestClient again;
  again.clientId = alice.clientId;
  ASSERT_EQ(ReplyNumber(other.login(FormFields(loginBody("alice", "secret1", again.key, 2), FormFields::Decoding::kRaw),
                                    "127.0.0.5"),
                        "result="),
            0);
  EXPECT_EQ(ping(protocol, again), "chk=0&chkmsg=0&");
  EXPECT_EQ(send(alice, "action=get_fileids"), "result=1&");
  // A logout through the first ends the session for the second as well, once
  // the second writes its pings and finds the session gone.
  EXPECT_EQ(send(again, "action=logout"), "result=0&");
  ping(other, again);
  other.flushPings();
  EXPECT_EQ(ping(other, again), "error=1&");
}

// Listings ask whether each file's owner is online: a process answers from
// the stored session's last ping, whichever process the client pings, without
// loading the session or setting up its key; the pings of a newer login are
// not credited to the older login held here.
TEST_F(ClientProtocolTest, OnlineIsReadFromTheStoredPingWithoutLoadingTheSession) {
  SessionTable otherTable;
  ServerContext otherContext{accounts, catalogue, otherTable, notifier, 201, [this] { return clock; }};
  ClientProtocol other(otherContext);
  TestClient alice;
  TestClient bob;
  ASSERT_EQ(ReplyNumber(login(alice, "alice", "secret1", 1), "result="), 0);
  ASSERT_EQ(ReplyNumber(login(bob, "bob", "hunter22", 2), "result="), 0);
  // The second holds alice's login (as after a request of hers), not bob's.
  EXPECT_EQ(other.pickUpSessions(), 2u);
  otherTable.forget(bob.clientId);
  const auto heldAlice = otherTable.peek(alice.clientId);
  ASSERT_NE(heldAlice, nullptr);
  int loads = 0;
  otherTable.setLoader([&loads](int64_t) {
    ++loads;
    return std::shared_ptr<ClientSession>();
  });
  const auto pingFirst = [&](TestClient& client) {
    ASSERT_TRUE(protocol.handlePing(pingDatagram(client.key, "secid=", 7110, static_cast<uint32_t>(client.clientId)),
                                    "127.0.0.5"));
    protocol.flushPings();
  };
  const int64_t nobody = alice.clientId + bob.clientId + 1000;
  const auto expectOnline = [&](bool aliceOnline, bool bobOnline, const char* when) {
    SCOPED_TRACE(when);
    EXPECT_EQ(otherTable.online(alice.clientId, clock), aliceOnline);
    EXPECT_EQ(otherTable.online(bob.clientId, clock), bobOnline);
    EXPECT_FALSE(otherTable.online(nobody, clock));
  };

  expectOnline(true, true, "just logged in");
  clock += SessionTable::kOnlineSeconds;
  expectOnline(true, true, "as old as still counts");
  clock += 1;
  expectOnline(false, false, "silent too long");
  const int64_t alicePinged = clock;
  pingFirst(alice);
  pingFirst(bob);
  clock += 10;
  expectOnline(true, true, "pinged through the first");
  EXPECT_EQ(heldAlice->lastPing.load(), alicePinged);
  clock += SessionTable::kOnlineSeconds + 1;
  expectOnline(false, false, "silent too long again");

  // A newer login of alice through the first: online by its own pings, while
  // the older login held here keeps its own last ping.
  TestClient again;
  ASSERT_EQ(ReplyNumber(login(again, "alice", "secret1", 3), "result="), 0);
  ASSERT_EQ(again.clientId, alice.clientId);
  expectOnline(true, false, "a newer login");
  EXPECT_EQ(heldAlice->lastPing.load(), alicePinged);
  clock += SessionTable::kOnlineSeconds + 1;
  expectOnline(false, false, "the newer login silent too long");
  pingFirst(again);
  pingFirst(bob);
  EXPECT_EQ(send(bob, "action=logout"), "result=0&");
  expectOnline(true, false, "bob logged out");

  EXPECT_EQ(loads, 0);
  EXPECT_EQ(otherTable.size(), 1u);
  EXPECT_EQ(otherTable.peek(alice.clientId), heldAlice);
}

// A process sets a stored session's key up once for each login it takes from
// the database, and keeps it: requests, pings, wrong requests and listings
// that ask whether the client is online never set it up again.
TEST_F(ClientProtocolTest, AStoredSessionsKeyIsSetUpOncePerLogin) {
  SessionTable otherTable;
  ServerContext otherContext{accounts, catalogue, otherTable, notifier, 201, [this] { return clock; }};
  ClientProtocol other(otherContext);
  TestClient alice;
  ASSERT_EQ(ReplyNumber(login(alice, "alice", "secret1", 1), "result="), 0);
  TestClient stranger;  // the right client ID with a key of its own
  stranger.clientId = alice.clientId;
  std::array<uint8_t, 8> salt{};
  salt.fill(9);
  stranger.key.DeriveWithSalt("guess", salt);
  const auto request = [&](TestClient& client, const std::string& ip = "127.0.0.5") {
    return other.encryptedRequest(client.clientId, base64Encode(client.key.EncryptText("action=get_fileids")), ip);
  };
  const auto ping = [&](TestClient& client, const std::string& ip = "127.0.0.5") {
    return other.handlePing(pingDatagram(client.key, "secid=", 7110, static_cast<uint32_t>(client.clientId)), ip)
        .value_or("(none)");
  };
  EXPECT_EQ(other.keysSetUp(), 0u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ReplyNumber(request(alice), "numfiles="), 0);
    EXPECT_NE(ping(alice), "error=1&");
    EXPECT_EQ(request(stranger), "result=1&");
    EXPECT_EQ(request(alice, "127.0.0.77"), "result=1&");
    EXPECT_EQ(ping(alice, "127.0.0.77"), "error=1&");
    clock += SessionTable::kOnlineSeconds + 1;
    EXPECT_FALSE(otherTable.online(alice.clientId, clock));
  }
  EXPECT_EQ(other.keysSetUp(), 1u);

  // A new login through the first: its key is set up here once, at its first request.
  TestClient again;
  ASSERT_EQ(ReplyNumber(login(again, "alice", "secret1", 2), "result="), 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ReplyNumber(request(again), "numfiles="), 0);
    EXPECT_EQ(request(alice), "result=1&");
  }
  EXPECT_EQ(other.keysSetUp(), 2u);
}

// Logins through one process reach the other's table in one read, so their
// first pings there are answered from memory; a session it missed is loaded in
// one read without the password. The sealed key opens only for its own session.
TEST_F(ClientProtocolTest, AnotherProcessTakesUpNewSessionsWithoutThePassword) {
  SessionTable otherTable;
  ServerContext otherContext{accounts, catalogue, otherTable, notifier, 201, [this] { return clock; }};
  ClientProtocol other(otherContext);
  EXPECT_EQ(other.pickUpSessions(), 0u);
  constexpr int kClients = 24;
  std::vector<TestClient> clients(kClients);
  for (int i = 0; i < kClients; ++i) {
    const std::string name = "user" + std::to_string(i);
    ASSERT_EQ(accounts.createUser(name, "pass" + name, ""), AccountStore::Result::kOk);
    if (i == kClients / 2) clock += 1;
    ASSERT_EQ(ReplyNumber(login(clients[static_cast<size_t>(i)], name, "pass" + name, static_cast<uint8_t>(i + 1)),
                          "result="),
              0);
  }
  // The passwords can no longer be read: only the sealed session keys serve.
  ASSERT_TRUE(db.exec("UPDATE users SET password = password || password"));
  const auto ping = [&](ClientProtocol& server, TestClient& client) {
    const auto reply = server.handlePing(pingDatagram(client.key, "secid=", 7110, static_cast<uint32_t>(client.clientId)),
                                         "127.0.0.5");
    return reply && *reply != "error=1&" ? client.key.DecryptText(*reply) : reply.value_or("(none)");
  };
  // The last one is left for the first-use load.
  otherTable.forget(clients.back().clientId);
  EXPECT_EQ(other.pickUpSessions(), static_cast<size_t>(kClients));
  EXPECT_EQ(other.pickUpSessions(), 0u);
  otherTable.forget(clients.back().clientId);
  EXPECT_EQ(otherTable.size(), static_cast<size_t>(kClients - 1));
  for (auto& client : clients) EXPECT_EQ(ping(other, client), "chk=0&chkmsg=0&") << client.clientId;
  EXPECT_EQ(otherTable.size(), static_cast<size_t>(kClients));

  // A new login through the first replaces the one taken up; an older one
  // read late does not replace a newer one.
  clock += 1;
  ASSERT_EQ(accounts.setPassword(accounts.findUser("user0")->id, "passuser0"), AccountStore::Result::kOk);
  TestClient again;
  ASSERT_EQ(ReplyNumber(login(again, "user0", "passuser0", 99), "result="), 0);
  EXPECT_EQ(other.pickUpSessions(), 1u);
  EXPECT_EQ(ping(other, again), "chk=0&chkmsg=0&");
  EXPECT_EQ(ping(other, clients.front()), "error=1&");

  // A sealed key copied into another session's row opens nowhere.
  SessionTable third;
  ServerContext thirdContext{accounts, catalogue, third, notifier, 201, [this] { return clock; }};
  ClientProtocol fresh(thirdContext);
  ASSERT_TRUE(db.exec("UPDATE sessions SET sealed_key = (SELECT sealed_key FROM sessions WHERE client_id = " +
                      std::to_string(clients[1].clientId) + ") WHERE client_id = " +
                      std::to_string(clients[2].clientId)));
  EXPECT_EQ(ping(fresh, clients[1]), "chk=0&chkmsg=0&");
  EXPECT_EQ(ping(fresh, clients[2]), "error=1&");
}

}  // namespace
}  // namespace vantrel::server
