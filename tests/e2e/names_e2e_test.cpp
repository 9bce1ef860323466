// SPDX-License-Identifier: MIT
// A name holding spaces, "+", "&", "#", "%", "=", quotes and letters beyond
// ASCII, in a group whose name holds them too, goes the whole way: a folder on
// disk opened in the client's share page (its links and sort links followed
// as a browser follows them), the file checked and shared with the page's
// form, the client's list and its group pages, the server's catalogue, a
// search, and a download by another user, and comes back identical.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/app_test_support.h"
#include "app/client_app.h"
#include "app/client_core.h"
#include "core/text_codecs.h"
#include "net/client_request.h"
#include "net/socket_io.h"
#include "net/test_sockets.h"
#include "platform/registry_hive.h"
#include "platform/testing/env_override.h"
#include "platform/unique_fd.h"
#include "protocol/catalogue_listing.h"
#include "protocol/catalogue_requests.h"
#include "protocol/server_login.h"
#include "protocol/testing/protocol_fixture.h"
#include "settings/settings_store.h"
#include "tests/e2e/client_fixture.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/reserved_port.h"
#include "tests/support/temp_folder.h"
#include "transfers/download_manager.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using e2e::ServerProcess;
using e2e::waitFor;

constexpr const char* kFolder = "Rock & Roll #1 c+d 100% a=b \"q\" 'x' \xC3\x9Cn\xC3\xAF";
constexpr const char* kFile = "Night Train & \"Co\" #2 50%+a=b '\xC3\x86r\xC3\xB8'.mp3";
constexpr const char* kGroup = "Jazz & Blues #1 a+b=c 5%";

// What a browser does with a text before it goes into a query or a form body.
std::string formEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) || ch == '-' || ch == '.' || ch == '_' || ch == '*') {
      out += ch;
    } else if (ch == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// The character references the pages write, back to text.
std::string htmlUnescape(std::string text) {
  const std::pair<const char*, const char*> refs[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
  for (const auto& [ref, ch] : refs) {
    for (std::size_t at = text.find(ref); at != std::string::npos; at = text.find(ref, at + 1)) {
      text.replace(at, std::strlen(ref), ch);
    }
  }
  return text;
}

// The target of the link whose text is `linkText` (as the page writes it).
std::string hrefBefore(const std::string& page, const std::string& linkText) {
  const std::size_t text = page.find("\">" + linkText + "</a>");
  if (text == std::string::npos) return {};
  const std::size_t start = page.rfind("href=\"", text);
  return start == std::string::npos ? std::string() : page.substr(start + 6, text - start - 6);
}

// The value of `attribute` in the first tag at or after `marker`.
std::string attributeAfter(const std::string& page, const std::string& marker, const std::string& attribute) {
  const std::size_t at = page.find(marker);
  if (at == std::string::npos) return {};
  const std::size_t value = page.find(attribute + "=\"", at);
  if (value == std::string::npos) return {};
  const std::size_t from = value + attribute.size() + 2;
  return page.substr(from, page.find('"', from) - from);
}

class KeepPrompts : public DownloadPrompts {
 public:
  FileExistsChoice fileExists(const FileExistsPrompt&) override { return FileExistsChoice::Resume; }
  std::optional<std::string> chooseFolder() override { return std::nullopt; }
};

class NamesE2eTest : public e2e::ClientE2eTest {
 protected:
  void SetUp() override {
    startServer({"--add-user", "alice:secret", "--demo-catalogue"});
    if (HasFatalFailure()) return;
    // The server writes the port the login names into download links, so
    // the client gets a fixed one, held for it until it listens.
    writeSettings(clientPort.port());
    const AppOptions options = clientOptions("home");
    ui.pressLogin = true;
    ui.user = "alice";
    ui.password = "secret";
    app = std::make_unique<ClientApp>(ui, options);
    ASSERT_TRUE(app->InitialiseWithoutLauncher());
    ASSERT_TRUE(app->LoginPhase());
    ASSERT_TRUE(app->core().sharing());
  }
  void TearDown() override {
    if (app) app->Exit();
  }

  // A page or command of alice's file server, asked from this computer: the
  // reply's body ("" when the connection failed).
  std::string fetch(const std::string& target, const std::string& body = {}) {
    UniqueFd fd = vantrel::testing::connectLoopback(static_cast<uint16_t>(app->core().fileServerPort()));
    if (!fd) return {};
    setSocketTimeouts(fd.get(), 10s);
    const std::string request =
        body.empty() ? "GET " + target + " HTTP/1.0\r\n\r\n"
                     : "POST " + target + " HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                       "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    vantrel::testing::sendAll(fd.get(), request);
    const std::string reply = vantrel::testing::readAll(fd.get());
    const std::size_t head = reply.find("\r\n\r\n");
    return head == std::string::npos ? std::string() : reply.substr(head + 4);
  }

  vantrel::testing::ReservedPort clientPort;
  app_testing::RecordingUi ui;
  std::unique_ptr<ClientApp> app;
};

TEST_F(NamesE2eTest, AwkwardNamesComeBackIdentical) {
  const fs::path folder = dir.path() / "music" / kFolder;
  const fs::path file = folder / kFile;
  const std::string bytes = "every byte of the song";
  fs::create_directories(folder);
  std::ofstream(file, std::ios::binary) << bytes;

  ProtocolContext& ctx = app->protocol();
  GroupEntry group;
  group.name = kGroup;
  group.perm = 2;  // anyone downloads
  group.memb = 4;  // anyone joins
  ASSERT_EQ(CreateGroup(ctx, group, 1), 0);
  const std::string groupId = std::to_string(group.id);

  // The share page as the web site's link opens it, on the folder above ours.
  const std::string local = "token=1$127.0.0.1";
  const std::string top = fetch("/template/client-share_files_template.html?dirid=" + groupId + "&groupid=" + groupId +
                                "&groupname=" + formEncode(kGroup) + "&groupdirname=&directory=" +
                                formEncode((dir.path() / "music").string()) + "&" + local);
  const std::string folderLink = hrefBefore(top, htmlEscape(kFolder));
  ASSERT_FALSE(folderLink.empty()) << top;

  // The folder's link, then a sort link of the page it opens: both list the file.
  const std::string inside = fetch("/template/" + htmlUnescape(folderLink));
  EXPECT_EQ(inside.find("Error: Incorrect directory"), std::string::npos) << inside;
  EXPECT_NE(inside.find(htmlEscape(kFile)), std::string::npos) << inside;
  const std::string sortLink = hrefBefore(inside, "Size");
  ASSERT_FALSE(sortLink.empty());
  const std::string sorted = fetch(htmlUnescape(sortLink));
  EXPECT_NE(sorted.find(htmlEscape(kFile)), std::string::npos) << sortLink;
  EXPECT_EQ(htmlUnescape(attributeAfter(sorted, "name=\"groupname\"", "value")), kGroup);

  // The check box and the hidden fields go back as the browser sends them.
  const std::string checked = htmlUnescape(attributeAfter(inside, "name=\"share\"", "value"));
  EXPECT_EQ(checked, file.string());
  std::string form;
  for (const char* field : {"dirid", "groupid", "groupname", "groupdirname"}) {
    form += std::string(field) + "=" +
            formEncode(htmlUnescape(attributeAfter(inside, "name=\"" + std::string(field) + "\"", "value"))) + "&";
  }
  form += "share=" + formEncode(checked);
  const std::string result = fetch("/addFiles/files?" + local, form);
  EXPECT_NE(result.find("Shared " + htmlEscape(file.string())), std::string::npos) << result;
  EXPECT_EQ(result.find("Could not share"), std::string::npos) << result;

  // The client's list, and its group page reached by the link of the groups page.
  const std::vector<CVantreldFile> shared = app->core().sharedFiles()->snapshot();
  ASSERT_EQ(shared.size(), 1u);
  EXPECT_EQ(shared[0].localPath, file.string());
  EXPECT_EQ(shared[0].fileName, kFile);
  EXPECT_EQ(shared[0].groupName, kGroup);
  const std::string groups = fetch("/template/client-shared_groups_template.html?" + local);
  const std::string groupLink = hrefBefore(groups, htmlEscape(kGroup));
  ASSERT_FALSE(groupLink.empty()) << groups;
  const std::string groupPage = fetch(htmlUnescape(groupLink));
  EXPECT_NE(groupPage.find(htmlEscape(kFile)), std::string::npos) << groupLink;

  // Another user finds it in the catalogue and downloads it under its name.
  protocol_testing::ProtocolFixture bob;
  bob.useServer(server.httpPort);
  int code = -1;
  ClientRequest().PostForm(nullptr, "http://127.0.0.1:" + std::to_string(server.httpPort) + "/signup.jsp",
                           "username=bob&password=secret77&password2=secret77", code);
  bob.settings.SetSettingNumber("port", 1);
  ASSERT_EQ(LoginRequest(bob.ctx, "bob", "secret77", nullptr), 0);
  SearchCriteria criteria;
  criteria.text = kFile;
  std::string found;
  ASSERT_EQ(Search(bob.ctx, criteria, nullptr, found), 0);
  std::shared_ptr<FileEntry> entry;
  for (const auto& e : ParseListing(found)) {
    if (e->type == EntryType::File) entry = std::static_pointer_cast<FileEntry>(e);
  }
  ASSERT_NE(entry, nullptr) << found;
  EXPECT_EQ(entry->name, kFile);

  KeepPrompts prompts;
  DownloadManager downloads(bob.settings, prompts);
  const fs::path into = dir.path() / "downloads";
  fs::create_directories(into);
  const int32_t id = downloads.downloadFile(*entry, into.string() + "/");
  ASSERT_TRUE(waitFor([&] { return downloads.find(id)->state == DownloadState::Completed; }, 10s))
      << downloadStateText(*downloads.find(id));
  EXPECT_EQ(vantrel::testing::readWholeFile(into / kFile), bytes);
}

}  // namespace
}  // namespace vantrel
