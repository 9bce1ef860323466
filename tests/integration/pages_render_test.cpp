// SPDX-License-Identifier: MIT
// Every page of the page folder, rendered for a small client: each parses
// without a report, uses only commands the providers know, and shows the text
// a person needs; every link back to the file server carries a token.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/error_table.h"
#include "core/log.h"
#include "fileserver/request_params.h"
#include "fileserver/testing_fakes.h"
#include "net/test_sockets.h"
#include "providers/fixture_facts.h"
#include "providers/page_renderer.h"
#include "templates/sample_providers.h"
#include "templates/template_archive.h"
#include "templates/template_limits.h"
#include "tests/support/temp_folder.h"

namespace vantrel::providers {
namespace {

namespace fs = std::filesystem;

class SessionRequest : public templates::SampleRequest {
 public:
  explicit SessionRequest(std::string peer) : SampleRequest(std::move(peer)) {}
  UploadSession* session() const override { return &m_session; }
  mutable UploadSession m_session{3};
};

class Pages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const auto& entry : fs::directory_iterator(VANTREL_PAGES_DIR)) {
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream bytes;
      bytes << in.rdbuf();
      templates::CFileArchiveEntry e;
      e.content = bytes.str();
      s_archive.add(entry.path().filename().string(), std::move(e));
    }
  }

  void SetUp() override {
    m_dir = m_temp.path();
    fs::create_directories(m_dir / "share folder" / "sub folder");
    fs::create_directories(m_dir / "share folder" / ".hidden");
    std::ofstream(m_dir / "share folder" / "notes.txt") << "notes";
    m_facts = std::make_unique<FixtureFacts>((m_dir / "alice.dat").string());
    m_facts->home = (m_dir / "share folder").string();
    ASSERT_TRUE(fillFixtureList(m_facts->files, {
                                                    fixtureFile(11, "/srv/music/Blue <Train>.mp3", 4200000, 5, "Jazz",
                                                                "Coltrane"),
                                                    fixtureFile(12, "/srv/music/Giant Steps.mp3", 3100000, 5, "Jazz"),
                                                    fixtureFile(13, "/srv/docs/manual.pdf", 900000, 8, "Work:Docs"),
                                                }));
    m_facts->addSession("10.1.1.7", "bob", 11);
  }

  struct Rendered {
    int code = 0;
    std::string page;
    std::vector<std::string> reports;
  };
  Rendered render(const std::string& name, SessionRequest& request) {
    Rendered r;
    r.code = renderClientPage(name, s_archive, *m_facts, request, r.page, nullptr,
                              [&](std::string_view line) { r.reports.emplace_back(line); });
    return r;
  }

  static templates::TemplateArchive s_archive;
  vantrel::testing::TempFolder m_temp;
  fs::path m_dir;
  std::unique_ptr<FixtureFacts> m_facts;
};

templates::TemplateArchive Pages::s_archive;

// Texts that a provider writes when a page uses it wrongly.
const char* const kProviderFaults[] = {"command unknown", "Template Error", "Wrong type of argument",
                                       "Wrong number of arguments", "No such template", "Argument too long",
                                       "No current session", "Directory requires", "iteration max", "NULL data"};

// The values of every href and action attribute of a page.
std::vector<std::string> linkTargets(const std::string& page) {
  std::vector<std::string> targets;
  for (const char* attribute : {"href=\"", "action=\""}) {
    const std::string a(attribute);
    for (size_t at = page.find(a); at != std::string::npos; at = page.find(a, at + 1)) {
      const size_t start = at + a.size();
      const size_t end = page.find('"', start);
      if (end == std::string::npos) break;
      targets.push_back(page.substr(start, end - start));
    }
  }
  return targets;
}

// Each row: a page, the request, what the command behind it did (result text,
// items done and failed), the texts a person must read and those that would
// mislead. Successes are never shown over failures.
TEST_F(Pages, EveryPageRendersCleanlyWithItsText) {
  struct Outcome {
    std::string text;
    int32_t done = 0, failed = 0;
  };
  struct PageCase {
    std::string name;
    std::vector<std::pair<std::string, std::string>> params;
    std::vector<std::string> texts;
    std::vector<std::string> absent = {};
    Outcome outcome = {};
    std::string peer = "192.168.1.10";  // the owner
  };
  const std::string sharedOne = "Shared /srv/a.mp3 <BR>\n";
  const std::string notShared = "Could not share /srv/b.mp3 - Not readable<BR>\n";
  const std::string gone = "Could not remove fileID 99 - is not being shared by this file manager<BR>\n";
  const std::vector<PageCase> cases{
      {"client-file_info_template.html", {{"fileid", "11"}},
       {"Blue &lt;Train&gt;.mp3", "4.2 MB", "file 11", "Downloads", "Save description", "Upload and replace"}},
      {"client-file_info_template.html", {{"fileid", "99"}},
       {"No such file", "not shared here"},
       {"No requested file", "/filedescription", "/sendfile", "/removeFiles"}},
      {"client-file_editdesc_template.html", {{"fileid", "12"}}, {"Describe Giant Steps.mp3", "Save description", "3.1 MB"}},
      {"client-file_editdesc_template.html", {{"fileid", "99"}}, {"No such file"}, {"No requested file", "/filedescription"}},
      {"client-share_files_template.html", {{"groupname", "Jazz"}, {"groupid", "5"}},
       {"Share files", "notes.txt", "Share the checked files and folders", "name=\"share\"", "You are in <b>",
        "share folder</b>", "sub folder", "2 entries"},
       {".hidden", "..<"}},
      {"client-loading_share_window_template.html", {}, {"Opening the share window", "this page can be closed",
                                                         "window.close()"}},
      {"client-first_time.html", {}, {"first time you share files"}},
      {"client-successfully_shared_files_template.html", {}, {"Files shared", "The files you checked are now shared."},
       {}, {sharedOne + sharedOne, 2, 0}},
      {"client-successfully_shared_files_template.html", {},
       {"Some files shared", "1 file was shared; 1 could not be shared", "Not readable"},
       {"The files you checked are now shared."}, {sharedOne + notShared, 1, 1}},
      {"client-successfully_shared_files_template.html", {}, {"Nothing shared", "Not readable"},
       {"now shared", "Files shared"}, {notShared, 0, 1}},
      {"client-successfully_shared_files_template.html", {}, {"Nothing shared", "No file or folder was checked."},
       {"now shared", "NULL data"}},
      {"client-successfully_removed_files_template.html", {}, {"Files removed"}, {}, {"Removed a.mp3 <BR>\n", 1, 0}},
      {"client-successfully_removed_files_template.html", {}, {"Nothing removed", "is not being shared"},
       {"Files removed", "NULL data"}, {gone, 0, 1}},
      {"client-successfully_removed_files_template.html", {}, {"Some files removed", "1 file is no longer shared"},
       {"Files removed<"}, {"Removed a.mp3 <BR>\n" + gone, 1, 1}},
      {"client-successfully_removed_users_template.html", {}, {"Users disconnected"}, {}, {"Removed 10.1.1.7\n<BR>", 1, 0}},
      {"client-successfully_removed_users_template.html", {}, {"Nobody disconnected", "may have already disconnected"},
       {"Users disconnected"}, {"Could not remove 10.1.1.7 - session not found, this user may have already disconnected<BR>\n", 0, 1}},
      {"client-connected_users_template.html", {}, {"Who is connected", "bob", "10.1.1.7", "1 connection &middot;"},
       {"this computer</span>"}},
      {"client-connected_users_extended_template.html", {}, {"bob", "Disconnect", "name=\"id\"", "name=\"ip\""}},
      {"client-shared_show_all_template.html", {}, {"All shared files", "Giant Steps.mp3", "manual.pdf", "3 files", "4.2 MB", "900.0 KB"}},
      {"client-shared_show_all_by_group_template.html", {{"sort", "1"}}, {"Jazz", "Docs", "Giant Steps.mp3", "1 file"}, {"1 files"}},
      {"client-shared_show_all_by_dirs_template.html", {{"sort", "2"}}, {"/srv/music/", "/srv/docs/", "manual.pdf", "2 files"}},
      {"client-shared_groups_template.html", {}, {"Shared groups", "Jazz", "Docs"}},
      {"client-shared_groups_directories_template.html", {{"groupid", "5"}, {"groupname", "Jazz"}},
       {"Jazz", "Coltrane", "Giant Steps.mp3", "2 files in this group"}},
      {"client-shared_directories_template.html", {{"dir", "/srv/"}}, {"Shared folders", "music", "docs", "1 file"}, {"1 files"}},
      {"client-info_template.html", {}, {"alice", "8323", "13.1 MB"}, {"Megs"}},
  };
  for (const PageCase& c : cases) {
    SCOPED_TRACE(c.name + " " + (c.params.empty() ? c.outcome.text : c.params.front().second));
    SessionRequest request(c.peer);
    request.m_session.setResultText(c.outcome.text);
    request.m_session.resultDone = c.outcome.done;
    request.m_session.resultFailed = c.outcome.failed;
    for (const auto& [n, v] : c.params) request.add(n, v);
    const Rendered r = render(c.name, request);
    ASSERT_EQ(r.code, err::kOk);
    EXPECT_TRUE(r.reports.empty()) << r.reports.front();
    for (const char* fault : kProviderFaults) {
      const size_t at = r.page.find(fault);
      EXPECT_EQ(at, std::string::npos) << r.page.substr(at < 80 ? 0 : at - 80, 160);
    }
    for (const std::string& text : c.texts) EXPECT_NE(r.page.find(text), std::string::npos) << text;
    for (const std::string& text : c.absent) EXPECT_EQ(r.page.find(text), std::string::npos) << text;
    // Links and forms that come back to this server carry a token.
    for (const std::string& target : linkTargets(r.page)) {
      const bool command = target.rfind("/template/", 0) == 0 || target.rfind("/addFiles", 0) == 0 ||
                           target.rfind("/removeUsers", 0) == 0 || target.rfind("/filedescription", 0) == 0 ||
                           target.rfind("/sendfile", 0) == 0 || target.rfind("client-share_files_template", 0) == 0;
      if (command) {
        EXPECT_NE(target.find("@token="), std::string::npos) << target;
      }
    }
  }
}

// This computer's own page views are marked in the list of who is connected.
TEST_F(Pages, OwnPageViewsAreMarked) {
  m_facts->addSession(m_facts->ownAddress(), "");
  SessionRequest request("10.1.1.7");
  const Rendered r = render("client-connected_users_template.html", request);
  EXPECT_NE(r.page.find("2 connections"), std::string::npos);
  const size_t badge = r.page.find("this computer</span>");
  ASSERT_NE(badge, std::string::npos);
  // On the row of the own address, not on bob's.
  const size_t rowStart = r.page.rfind("<tr>", badge);
  const std::string row = r.page.substr(rowStart, r.page.find("</tr>", badge) - rowStart);
  EXPECT_NE(row.find(m_facts->ownAddress()), std::string::npos) << row;
  EXPECT_EQ(r.page.find("this computer</span>", badge + 1), std::string::npos);
}

TEST_F(Pages, ErrorPageShowsCodeTitleMessageAndBackLink) {
  SessionRequest request("10.1.1.7");
  request.m_session.fileId = err::kTooManyUsers;
  const Rendered r = render("client-error_template.html", request);
  ASSERT_EQ(r.code, err::kOk);
  // The limit named is the one the client enforces, not the stored setting.
  const ErrorText text = lookupError(err::kTooManyUsers, ErrorContext{m_facts->enforcedMaxUsers, 5, {}});
  EXPECT_NE(r.page.find("31"), std::string::npos);
  EXPECT_NE(r.page.find(text.title), std::string::npos);
  EXPECT_NE(r.page.find(text.message), std::string::npos);
  if (!text.link.empty()) {
    EXPECT_NE(r.page.find(text.link), std::string::npos);
  }
}

TEST_F(Pages, VisitorsGetNoOwnerForms) {
  SessionRequest visitor("10.1.1.7");
  visitor.add("fileid", "11");
  const Rendered r = render("client-file_info_template.html", visitor);
  EXPECT_NE(r.page.find("Blue &lt;Train&gt;.mp3"), std::string::npos);
  EXPECT_EQ(r.page.find("/filedescription"), std::string::npos);
  EXPECT_EQ(r.page.find("/sendfile"), std::string::npos);
  EXPECT_EQ(r.page.find("/removeFiles"), std::string::npos);

  // The owner can describe, replace and stop sharing the file.
  SessionRequest owner(m_facts->ownAddress());
  owner.add("fileid", "11");
  const Rendered own = render("client-file_info_template.html", owner);
  EXPECT_NE(own.page.find("/filedescription"), std::string::npos);
  EXPECT_NE(own.page.find("/sendfile/file?fileid=11&"), std::string::npos);
  EXPECT_NE(own.page.find("name=\"stopsharing\" value=\"11\""), std::string::npos);
}

TEST_F(Pages, AllFilesPageListsPastTheLoopBudget) {
  std::vector<CVantreldFile> many;
  for (int32_t id = 1; id <= 2500; ++id) many.push_back(fixtureFile(id, "/srv/f/" + std::to_string(id) + ".bin", id));
  ASSERT_TRUE(fillFixtureList(m_facts->files, many));
  SessionRequest request("10.1.1.7");
  const Rendered r = render("client-shared_show_all_template.html", request);
  size_t rows = 0;
  for (size_t at = r.page.find("client-file_info_template.html?fileid="); at != std::string::npos; at = r.page.find("client-file_info_template.html?fileid=", at + 1)) {
    ++rows;
  }
  EXPECT_EQ(rows, 2500u);
  EXPECT_EQ(r.page.find("iteration max"), std::string::npos);
}

// Pages render on several connection threads while the list and the session
// map change under them; each rendering works on its own snapshot.
TEST_F(Pages, RenderWhileTheListChanges) {
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int32_t id = 1000; !stop && id < 1400; ++id) {
      m_facts->files.Add(fixtureFile(id, "/srv/new/" + std::to_string(id) + ".txt", id));
      m_facts->files.Remove(id - 1);
      m_facts->addSession("10.9.9." + std::to_string(id % 250), "u");
    }
  });
  std::vector<std::thread> readers;
  std::atomic<int> clean{0};
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      for (int i = 0; i < 20; ++i) {
        SessionRequest request("10.1.1.7");
        request.add("sort", std::to_string(i % 3));
        std::string page;
        const char* name = i % 2 ? "client-shared_show_all_by_group_template.html" : "client-connected_users_template.html";
        if (renderClientPage(name, s_archive, *m_facts, request, page, nullptr, [](std::string_view) {}) == err::kOk &&
            page.find("command unknown") == std::string::npos) {
          ++clean;
        }
      }
    });
  }
  for (auto& r : readers) r.join();
  stop = true;
  writer.join();
  EXPECT_EQ(clean.load(), 60);
}

// Whoever writes a page sees the parser's report where the running client
// writes: on standard output and, naming the page, in the log.
TEST_F(Pages, TheRunningClientReportsParseErrorsToOutputAndLog) {
  templates::TemplateArchive archive;
  templates::CFileArchiveEntry broken;
  broken.content = "<# start #>fine<# endtmpl #>\n<# second #><# x := ; #><# endtmpl #>";
  archive.add("client-broken.html", std::move(broken));
  const std::string logPath = (m_dir / "log.txt").string();
  std::string page;
  {
    Log log(logPath, Log::kDefaultMaxSizeKb, false);
    ClientPageRenderer renderer(archive, *m_facts, &log);
    UploadSession session(9);
    RequestParams params;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(renderer.render(PageContext{"client-broken.html", session, params, "127.0.0.1"}, page), err::kOk);
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(printed, "");
    EXPECT_EQ(page, "fine");
    std::ifstream in(logPath);
    std::stringstream text;
    text << in.rdbuf();
    const std::string firstReport = printed.substr(0, printed.find('\n'));
    EXPECT_NE(text.str().find("Template client-broken.html: " + firstReport), std::string::npos) << text.str();

    // The page is parsed once, but its report comes with every request.
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(renderer.render(PageContext{"client-broken.html", session, params, "127.0.0.1"}, page), err::kOk);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), printed);
    EXPECT_EQ(page, "fine");
  }
}

TEST_F(Pages, MissingPageAndMissingStart) {
  SessionRequest request("127.0.0.1");
  EXPECT_EQ(render("no-such-page.html", request).code, err::kTemplateNotFound);
  EXPECT_EQ(render("logo.gif", request).code, err::kTemplateParse);
}

// The deepest page the template limits allow: every call level nests as many
// blocks as a template and its executed code may, a hundred levels down, and
// the deepest level evaluates an expression nested as far as it may be.
std::string deepestPage() {
  auto blocks = [](int n, std::string_view inner) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "if 1; ";
    s += inner;
    for (int i = 0; i < n; ++i) s += "endif; ";
    return s;
  };
  std::string expression = "1";
  for (int i = 0; i < 85; ++i) expression = "1 + (" + expression + ")";
  const std::string executed = blocks(templates::kMaxBlockDepth - 1,
                                      "if n < 100; tmpl.deep(n + 1); else; x := " + expression + "; 'deep'; endif; ");
  std::string quoted;
  for (char c : executed) {
    if (c == '\'') quoted += '\\';
    quoted += c;
  }
  return "<# deep(n); " + blocks(templates::kMaxBlockDepth - 1, "execute('<# " + quoted + " #>'); ") +
         "endtmpl #><# start; tmpl.deep(1); endtmpl #>";
}

// A page is rendered on the thread of the file server's connection, whose
// stack is sized for the worst nesting the template limits allow.
TEST_F(Pages, TheDeepestPageRendersOnAFileServerConnection) {
  templates::TemplateArchive archive;
  archive.add("client-deep_template.html", templates::CFileArchiveEntry(deepestPage()));
  ClientPageRenderer renderer(archive, *m_facts);
  vantrel::testing::FakeHost host;
  FileServer server{host, renderer, m_facts->files, nullptr, nullptr};
  ASSERT_EQ(server.listen(0), kListenOk);
  ASSERT_EQ(server.start(), 0);
  auto fd = vantrel::testing::connectLoopback(server.port());
  vantrel::testing::sendAll(fd.get(), "GET /template/client-deep_template.html?token=a$b HTTP/1.0\r\n\r\n");
  const std::string reply = vantrel::testing::readAll(fd.get());
  const std::size_t body = reply.find("\r\n\r\n");
  ASSERT_NE(body, std::string::npos) << reply;
  EXPECT_EQ(reply.substr(body + 4), "deep");
}

}  // namespace
}  // namespace vantrel::providers
