// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/error_table.h"
#include "providers/client_env_root.h"
#include "providers/directory_browser.h"
#include "providers/fixture_facts.h"
#include "providers/provider_text.h"
#include "providers/shared_file_providers.h"
#include "templates/sample_providers.h"
#include "templates/template_test_util.h"
#include "tests/support/temp_folder.h"

namespace vantrel::providers {
namespace {

namespace fs = std::filesystem;
using templates::SampleRequest;

// A request that also carries a connection's session.
class SessionRequest : public SampleRequest {
 public:
  explicit SessionRequest(std::string peer = "127.0.0.1") : SampleRequest(std::move(peer)) {}
  UploadSession* session() const override { return &m_session; }
  mutable UploadSession m_session{7};
};

class Providers : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = m_temp.path();
    m_facts = std::make_unique<FixtureFacts>((m_dir / "alice.dat").string());
  }
  // Renders code as the body of a "start" template against a fresh root.
  std::string render(const std::string& code, SessionRequest& request) {
    ClientEnvRoot root(*m_facts, request);
    const auto r = templates::testing::renderText("<# start; " + code + " endtmpl #>", &root);
    EXPECT_TRUE(r.reports.empty()) << code << ": " << (r.reports.empty() ? "" : r.reports.front());
    return r.page;
  }
  std::string render(const std::string& code) {
    SessionRequest request;
    return render(code, request);
  }

  vantrel::testing::TempFolder m_temp;
  fs::path m_dir;
  std::unique_ptr<FixtureFacts> m_facts;
};

struct Case {
  std::string code;
  std::string page;
};

TEST_F(Providers, ClientCommands) {
  for (const Case& c : std::vector<Case>{
           {"env.client.queueSize;", "test"},
           {"env.client.estNextQueueSpace;", "test"},
           {"env.client.ip;", "192.168.1.10"},
           {"env.client.port;", "8323"},
           {"env.client.usedBandwidth;", "12"},
           {"env.client.maxBandwidthUsed;", "100"},
           {"env.client.maxAllowedUsers;", "10"},
           {"env.client.maxBandwidthPerUser;", "20"},
           {"env.client.totalKSent;", "12.5 Megs"},
           {"env.client.username;", "alice"},
           {"env.client.numberOfSharedFiles;", "0"},
           {"env.client.numberOfSharedFiles + 1;", "1"},
           {"env.client.adminToken;", "JDAxLjEuODYxLjI5MQ=="},  // Base64 of the reversed "192.168.1.10$"
           {"env.client.Bogus;", " bogus: command unknown "},
       }) {
    EXPECT_EQ(render(c.code), c.page) << c.code;
  }
  m_facts->contype = 99;
  EXPECT_EQ(render("env.client.connectionType;"), "");
  m_facts->contype.reset();
  EXPECT_EQ(render("env.client.connectionType;"), "");
}

TEST_F(Providers, RequestCommands) {
  for (const Case& c : std::vector<Case>{
           {"env.command.image('logo.gif');", "/images/logo.gif"},
           {"env.command.image('a', 'b');", "Wrong number of arguments"},
           {"env.command.image(5);", "Wrong type of argument, need string"},
           {"env.command.outputTemplateURL('CLIENT_Information_Template');", "/template/client-info_template.html"},
           {"env.command.outputTemplateURL('client_edit_description_template');",
            "/template/client-file_editdesc_template.html"},
           {"env.command.outputTemplateURL('nope');", "No such template"},
           {"env.command.outputTemplateURL(3);", "Wrong type of argument, need string"},
           {"env.command.outputTemplateURL('a', 'b');", ""},
           {"env.command.outputTemplateURL('" + std::string(201, 'x') + "');", "Argument too long"},
           {"env.command.outputEncryptedText('abc');", "Y2Jh"},
           {"env.command.outputEncryptedText;", "Wrong type of argument, need string"},
           {"env.command.adminToken;", "token:127.0.0.1"},
           {"env.command.data;", "NULL data"},
           {"x := env.command.isOwner; x;", "0"},
           {"x := env.command.whatever; x;", "0"},
       }) {
    EXPECT_EQ(render(c.code), c.page) << c.code;
  }
  SessionRequest own("192.168.1.10");
  EXPECT_EQ(render("x := env.command.isOwner; x;", own), "1");

  // Parameters come back as a query; the token is a fresh one, and values
  // are encoded so that they cannot end the query or the attribute early.
  SessionRequest request;
  request.add("dir", "/a b&c");
  request.add("token", "old");
  request.m_session.setResultText("<b>3 files</b>");
  EXPECT_EQ(render("env.command.commandData;", request), "dir=/a+b%26c&@token=token:127.0.0.1&");
  EXPECT_EQ(render("env.command.data;", request), "&lt;b&gt;3 files&lt;/b&gt;");
  // Result lines keep their line breaks; what they quote stays text.
  request.m_session.setResultText("Shared /m/<i>.mp3 <BR>\nRemoved 10.0.0.1\n<BR>");
  EXPECT_EQ(render("env.command.data;", request), "Shared /m/&lt;i&gt;.mp3 <BR>\nRemoved 10.0.0.1\n<BR>");
}

TEST_F(Providers, ErrorTexts) {
  SessionRequest request;
  request.m_session.fileId = err::kRemoteSharingDisabled;
  const ErrorText expected = lookupError(err::kRemoteSharingDisabled);
  EXPECT_EQ(render("env.error.errorCode;", request), "21");
  EXPECT_EQ(render("env.error.errorTitle;", request), expected.title);
  EXPECT_EQ(render("env.error.errorExplanation;", request), expected.message);
  EXPECT_EQ(render("env.error.other;", request), "");
  EXPECT_EQ(render("env.error.errorCode + 1;", request), " errorcode: command unknown 1");

  request.m_session.fileId = err::kSystemError;
  request.m_session.setResultText("Cannot open <x>" + std::string(400, 'y'));
  const std::string message = render("env.error.errorExplanation;", request);
  EXPECT_EQ(message, "Cannot open &lt;x&gt;" + std::string(300 - 15, 'y'));
}

TEST_F(Providers, FileInformation) {
  EXPECT_EQ(render("env.fileInfoRequest.fileName;"), "No requested file");
  CVantreldFile f = fixtureFile(77, "/srv/music/<song>.mp3", 123456);
  ASSERT_TRUE(m_facts->files.Add(f));
  SessionRequest request;
  request.add("fileid", "77");
  EXPECT_EQ(render("env.fileInfoRequest.fileName; '|'; env.fileInfoRequest.fileSize; '|'; env.fileInfoRequest.fileID;"
                   "'|'; env.fileInfoRequest.group; '|'; env.fileInfoRequest.fileNumberOfDownloads;",
                   request),
            "&lt;song&gt;.mp3|123|77|Not implemented|0");
  EXPECT_EQ(render("env.fileInfoRequest.localDirectory;", request), "/srv/music/");
  SessionRequest missing;
  missing.add("fileid", "78");
  EXPECT_EQ(render("env.fileInfoRequest.fileID;", missing), "No requested file");
}

TEST_F(Providers, ConnectedUsersInAddressOrder) {
  m_facts->addSession("10.0.0.9", "zed", 5);
  m_facts->addSession("10.0.0.10", "amy");
  m_facts->addSession("10.0.0.1", "bob");
  EXPECT_EQ(render("env.connectedUsers.userName;"), "No current session use hasMoreSessions to get the next one");
  EXPECT_EQ(render("x := env.connectedUsers.isDownloading; x;"), "0");
  EXPECT_EQ(render("while env.connectedUsers.hasMoreUsers; env.connectedUsers.userName; "
                   "'' $ env.connectedUsers.isDownloading $ ' '; endwhile; '' $ env.connectedUsers.numberOfSessions;"),
            "bob0 amy0 zed1 3");
  EXPECT_EQ(render("env.connectedUsers.sort('IP'); env.connectedUsers.sort('speed'); env.connectedUsers.sort('command');"
                   "env.connectedUsers.sort('percentagecomplete'); env.connectedUsers.sort('x');"),
            "12460");
}

TEST_F(Providers, RootNamesAndDirectoryTable) {
  EXPECT_EQ(render("env.nothing.at.all; '|';"), "|");
  EXPECT_EQ(render("x := env.nothing.at; x;"), "0");
  EXPECT_EQ(render("env.mystery;"), " mystery: command unknown 0");
  EXPECT_EQ(render("env.output;"), "output only");
  EXPECT_EQ(render("env.directory.numberOfEntries;"), "Directory requires a directory argument, ie. directory(4)");
  EXPECT_EQ(render("env.directory('0').numberOfEntries;"), "Directory requires a directory argument, ie. directory(4)");
  // Browsers not made in this rendering select none, and the table holds ten.
  EXPECT_EQ(render("env.directory(0).sortMethod; '|';"), "|");
  EXPECT_EQ(render("i := 0; while i < 12, i++; env.getDirectory; ' '; endwhile; env.directory(9).sortMethod; "
                   "env.directory(10).sortMethod;"),
            "0 1 2 3 4 5 6 7 8 9 -1 -1 0");
}

std::vector<DirectoryEntry> numberedEntries(int n) {
  std::vector<DirectoryEntry> entries;
  entries.push_back({".", 0, 0, true});
  for (int i = 1; i < n; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%05d", i);
    entries.push_back({name, i, i, false});
  }
  return entries;
}

std::string browse(SampleRequest& request, std::vector<DirectoryEntry> entries, const std::string& code) {
  DirectoryBrowser browser(request, "/data", std::move(entries), "TOKEN");
  templates::TableProvider env;
  // The browser reached as "env.b".
  class Root : public templates::DataProvider {
   public:
    explicit Root(DirectoryBrowser& b) : m_b(b) {}
    void Exec(std::string_view, templates::OutputSink&, templates::TemplateArgs) override {}
    DataProvider* Select(std::string_view, templates::OutputSink&, templates::TemplateArgs) override { return &m_b; }
    void Eval(templates::TemplateValue&, std::string_view, templates::OutputSink&, templates::TemplateArgs) override {}
    DirectoryBrowser& m_b;
  } root(browser);
  return templates::testing::run(code, &root);
}

TEST(DirectoryBrowserPaging, HundredEntryPagesAndTheWindow) {
  SampleRequest first;
  EXPECT_EQ(browse(first, numberedEntries(250), "n := 0; while env.b.hasMoreFiles, n++; endwhile; n;"), "100");
  EXPECT_EQ(browse(first, numberedEntries(250),
                   "env.b.numberOfPages; '|'; while env.b.hasMorePages; env.b.pageNumber; env.b.pageRange; ' '; endwhile;"),
            "3|1(A to f) 2(f to f) 3(f to f) ");
  EXPECT_EQ(browse(first, numberedEntries(100), "'' $ env.b.hasMorePages;"), "0");

  SampleRequest later;
  later.add("startat", "1000");
  EXPECT_EQ(browse(later, numberedEntries(1500),
                   "env.b.currentPageNumber; '|' $ env.b.prev5 $ '|'; while env.b.hasMorePages; env.b.pageNumber; ' '; "
                   "endwhile; '|' $ env.b.next5;"),
            "11|1|9 10 11 12 13 |1");
  EXPECT_EQ(browse(later, numberedEntries(1500), "while env.b.hasMorePages; endwhile; env.b.pageLink;"),
            "client-share_files_template.html?directory=/data&sort=0&dirid=-1&groupname=&groupdirname=&groupid=-1"
            "&startat=1200&@token=TOKEN");
  EXPECT_EQ(browse(later, numberedEntries(1500), "'' $ env.b.hasMoreFiles; env.b.getFileName;"), "1f01000");
  // A start past the end, or before the beginning, starts at the beginning.
  for (const char* start : {"5000", "-5", "x"}) {
    SampleRequest request;
    request.add("startat", start);
    EXPECT_EQ(browse(request, numberedEntries(10), "env.b.currentPageNumber; '' $ env.b.hasMoreFiles; env.b.getFileName;"),
              "11.")
        << start;
  }
}

TEST(DirectoryBrowserPaging, NothingListedReportsOnce) {
  SampleRequest request;
  EXPECT_EQ(browse(request, {}, "'' $ env.b.hasMoreDrives $ env.b.hasMoreFiles; env.b.numberOfEntries; env.b.getFileName; "
                                "env.b.getDrive;"),
            "Error: Incorrect directory or drive inaccessible10/");
}

TEST(DirectoryBrowserPaths, Normalisation) {
  for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
           {"/home/u/docs/..", "/home/u"},
           {"/home/u/docs/../", "/home/u"},
           {"/home/..", "/"},
           {"/..", "/"},
           {"/srv/./", "/srv"},
           {"/srv/c+d", "/srv/c+d"},  // the value arrives decoded: a "+" is part of the name
           {"", "/home/me"},
           {"/srv/files", "/srv/files"},
       }) {
    EXPECT_EQ(normaliseDirectory(in, "/home/me"), out) << in;
  }
}

TEST(DirectoryBrowserPaths, SortCodesKeepDirectoriesFirst) {
  const std::vector<DirectoryEntry> base{
      {"b", 5, 30, false}, {"A", 9, 10, false}, {"z", 0, 20, true}, {"c", 5, 10, false}, {"d", 0, 5, true}};
  for (const auto& [code, order] : std::vector<std::pair<int, std::string>>{
           {0, "dzAbc"}, {1, "zdcbA"}, {2, "dzbcA"}, {3, "dzAbc"}, {4, "dzAcb"}, {5, "zdbAc"}, {9, "dzAbc"}}) {
    std::vector<DirectoryEntry> entries = base;
    sortEntries(entries, code);
    std::string names;
    for (const auto& e : entries) names += e.name;
    EXPECT_EQ(names, order) << code;
  }
}

TEST_F(Providers, DirectoryBrowserOverARealFolder) {
  // Names that a link or a form would break unless each is written for where
  // it goes: text for the page, the path as it is for a form's check box, and
  // URL-encoded in links.
  fs::create_directories(m_dir / "c+d & e");
  std::ofstream(m_dir / "c+d & e" / "a&b #1 50%=x.txt") << "hello";
  fs::create_directories(m_dir / "c+d & e" / "sub");
  fs::create_directories(m_dir / "c+d & e" / ".cache");  // hidden: not offered
  std::ofstream(m_dir / "c+d & e" / ".secret") << "x";
  SessionRequest request;
  const std::string dir = (m_dir / "c+d & e").string();
  request.add("directory", dir);
  request.add("groupname", "Jazz & Blues:Live #1");
  request.add("groupdirname", "live::");
  const std::string page = render(
      "d := env.getDirectory; env.directory(d).numberOfEntries; '|'; "
      "while env.directory(d).hasMoreFiles; env.directory(d).getFileName; '=' $ env.directory(d).isDirectory $ ' '; endwhile;"
      "'|'; env.directory(d).getGroupDirName; '|'; env.directory(d).rootDir; '|'; env.directory(d).getGroupName('url'); "
      "'|'; env.directory(d).getGroupName;",
      request);
  EXPECT_EQ(page, "2|sub=1 a&amp;b #1 50%=x.txt=0 |live|" + m_dir.string() +
                      "/c+d &amp; e|Jazz+%26+Blues:Live+%231|Jazz &amp; Blues:Live #1");

  const std::string encodedDir = m_dir.string() + "/c%2Bd+%26+e";
  const std::string file = render(
      "d := env.getDirectory; i := 0; while i < 2, i++; '' $ env.directory(d).hasMoreFiles; endwhile; "
      "env.directory(d).getFilePath; '|'; env.directory(d).getDirectoryLink; '|'; env.directory(d).rootDir('url');",
      request);
  EXPECT_EQ(file, "11" + m_dir.string() + "/c+d &amp; e/a&amp;b #1 50%=x.txt|client-share_files_template.html?directory=" +
                      encodedDir + "/a%26b+%231+50%25=x.txt&sort=0&dirid=-1&groupname=Jazz+%26+Blues:Live+%231"
                      "&groupdirname=live&groupid=-1|" + encodedDir);

  // A segment walk over the directory ends with the whole path.
  const std::string walk = render("d := env.getDirectory; while env.directory(d).hasMorePath; "
                                  "env.directory(d).getPathSegment; '|'; endwhile; "
                                  "env.directory(d).getFullPathSegment('url');",
                                  request);
  EXPECT_EQ(walk.substr(0, 2), "/|");
  const std::string tail = "c+d &amp; e|" + encodedDir;
  ASSERT_GE(walk.size(), tail.size());
  EXPECT_EQ(walk.substr(walk.size() - tail.size()), tail);
}

// What the pages need beside the fixed commands to be honest and to read
// alike: the counts behind a result page, whether a file is there at all,
// this computer's own page views, the limits really enforced, and the one way
// to write sizes and dates.
TEST_F(Providers, PageFacts) {
  ASSERT_TRUE(m_facts->files.Add(fixtureFile(77, "/srv/a.mp3", 4200000)));
  m_facts->addSession("10.0.0.9", "zed");
  m_facts->addSession("127.0.0.1", "");
  m_facts->addSession(m_facts->ownAddress(), "");
  SessionRequest done;
  done.m_session.resultDone = 2;
  done.m_session.resultFailed = 1;
  SessionRequest file;
  file.add("fileid", "77");
  SessionRequest gone;
  gone.add("fileid", "78");
  SessionRequest tooManyUsers;
  tooManyUsers.m_session.fileId = err::kTooManyUsers;
  SessionRequest tooManyFromOne;
  tooManyFromOne.m_session.fileId = err::kMaxDownloadsPerUser;
  SessionRequest plain;
  struct PageCase {
    const char* name;
    SessionRequest& request;
    std::string code, page;
  };
  const PageCase cases[] = {
      {"counts as values", done, "if env.command.resultDone = 2 && env.command.resultFailed = 1; 'yes'; endif;", "yes"},
      {"counts as text", done, "env.command.resultDone; '/'; env.command.resultFailed;", "2/1"},
      {"no command ran", plain, "env.command.resultDone + env.command.resultFailed;", "0"},
      {"a shared file exists", file, "x := env.fileInfoRequest.fileExists; x;", "1"},
      {"a removed file does not", gone, "x := env.fileInfoRequest.fileExists; x;", "0"},
      {"no fileid at all", plain, "x := env.fileInfoRequest.fileExists; x;", "0"},
      {"size and date of a file", file, "env.fileInfoRequest.sizeText; '|'; env.fileInfoRequest.dateText;",
       "4.2 MB|" + dateText(fixtureFile(77, "/srv/a.mp3", 1).creationTime)},
      {"own page views marked", plain,
       "while env.connectedUsers.hasMoreUsers; env.connectedUsers.ip; '=' $ env.connectedUsers.isThisComputer $ ' '; "
       "endwhile;",
       "10.0.0.9=0 127.0.0.1=1 " + m_facts->ownAddress() + "=1 "},
      {"limit named on error 31 is the enforced one", tooManyUsers, "env.error.errorExplanation;",
       lookupError(err::kTooManyUsers, ErrorContext{12, 3, {}}).message},
      {"limit named on error 52 is the enforced one", tooManyFromOne, "env.error.errorExplanation;",
       lookupError(err::kMaxDownloadsPerUser, ErrorContext{12, 3, {}}).message},
  };
  for (const PageCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(render(c.code, c.request), c.page);
  }
  // The stored settings say 10 users; the page must not.
  EXPECT_NE(lookupError(err::kTooManyUsers, ErrorContext{12, 3, {}}).message,
            lookupError(err::kTooManyUsers, ErrorContext{10, 3, {}}).message);
}

TEST(PageText, OneWayToWriteASize) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0 bytes"},          {1, "1 byte"},          {999, "999 bytes"},       {1000, "1.0 KB"},
      {4200, "4.2 KB"},        {999949, "999.9 KB"},   {999999, "1.0 MB"},       {4200000, "4.2 MB"},
      {1500000000, "1.5 GB"},  {5000000000000, "5000.0 GB"}, {-5, "0 bytes"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(sizeText(bytes), text) << bytes;
}

class SharedFiles : public Providers {
 protected:
  void SetUp() override {
    Providers::SetUp();
    ASSERT_TRUE(fillFixtureList(m_facts->files, {
                                                    fixtureFile(1, "/srv/music/b.mp3", 3000, 10, "Music", "Rock"),
                                                    fixtureFile(2, "/srv/music/A.mp3", 1000, 10, "Music", "Rock:Live"),
                                                    fixtureFile(3, "/srv/music/c.mp3", 2000, 10, "Music", ""),
                                                    fixtureFile(4, "/srv/film/d.avi", 9000, 20, "Media:Film", ""),
                                                    fixtureFile(5, "/home/x/e.txt", 10, 10, "Music", "Rock"),
                                                }));
  }
  std::string names(const std::string& provider, SessionRequest& request) {
    return render("while env." + provider + ".hasMoreFiles; env." + provider + ".getFileName; ' '; endwhile;",
                  request);
  }
};

TEST_F(SharedFiles, AllFilesSortedAndGrouped) {
  SessionRequest plain;
  EXPECT_EQ(names("sharedFile", plain), "A.mp3 b.mp3 c.mp3 d.avi e.txt ");
  SessionRequest bySize;
  bySize.add("sort", "5");
  EXPECT_EQ(names("sharedFile", bySize), "d.avi b.mp3 c.mp3 A.mp3 e.txt ");
  SessionRequest byGroup;
  byGroup.add("sort", "1");
  EXPECT_EQ(names("sharedFile", byGroup), "d.avi c.mp3 b.mp3 e.txt A.mp3 ");
  EXPECT_EQ(render("while env.sharedFile.hasMoreFiles; if env.sharedFile.newGroup; '['; env.sharedFile.groupName; "
                   "env.sharedFile.groupNumberOfFiles; ']'; endif; env.sharedFile.getfileid; endwhile;",
                   byGroup),
            "[Film1]4[Music4]3152");
  SessionRequest byDir;
  byDir.add("sort", "2");
  EXPECT_EQ(render("while env.sharedFile.hasMoreFiles; if env.sharedFile.newLocalDir; '['; "
                   "env.sharedFile.directoryName; env.sharedFile.directoryNumberOfFiles; ']'; endif; "
                   "env.sharedFile.getfileid; endwhile;",
                   byDir),
            "[/home/x/1]5[/srv/film/1]4[/srv/music/3]213");
  EXPECT_EQ(render("while env.sharedFile.hasMoreGroups; env.sharedFile.groupPath; ':'; env.sharedFile.groupName; "
                   "'='; env.sharedFile.groupID; ' '; endwhile;"),
            ":Music=10 Media:Film=20 ");
  EXPECT_EQ(render("env.sharedFile.getFileName;"), "Template Error: No shared file selected");
}

TEST_F(SharedFiles, OneGroupByFolder) {
  SessionRequest top;
  top.add("groupid", "10");
  top.add("groupname", "Music: ");
  EXPECT_EQ(names("sharedgroup", top), "c.mp3 ");
  EXPECT_EQ(render("while env.sharedgroup.hasMoreDirectories; env.sharedgroup.getDirEndOfName; '='; "
                   "env.sharedgroup.getDirNumberOfFiles; endwhile; '|'; env.sharedgroup.numberOfGroupFiles; '|'; "
                   "env.sharedgroup.groupName; '|'; env.sharedgroup.sort('filename'); env.sharedgroup.sort('filesize');",
                   top),
            "Rock=2|4|Music|13");
  SessionRequest rock;
  rock.add("groupid", "10");
  rock.add("groupdirname", " Rock : ");
  rock.add("sort", "3");  // size ascending
  EXPECT_EQ(names("sharedgroup", rock), "e.txt b.mp3 ");
  EXPECT_EQ(render("env.sharedgroup.groupDirPath; '|'; while env.sharedgroup.hasMoreDirectories; "
                   "env.sharedgroup.getDirEndOfName; endwhile; '|'; env.sharedgroup.sort('filesize');",
                   rock),
            "Rock:|Rock:Live|2");
}

TEST_F(SharedFiles, FilesOfOneLocalFolder) {
  SessionRequest root;
  EXPECT_EQ(render("'' $ env.sharedDir.hasMoreDrives; env.sharedDir.getDriveName; env.sharedDir.getDriveFiles; '|'; "
                   "while env.sharedDir.hasMoreDirectories; env.sharedDir.getDirName; env.sharedDir.getDirNumberOfFiles; "
                   "' '; endwhile; '' $ env.sharedDir.hasMoreFiles;",
                   root),
            "1/5|home1 srv4 0");
  SessionRequest music;
  music.add("dir", "/srv/music/");
  music.add("sort", "6");
  EXPECT_EQ(names("sharedDir", music), "A.mp3 c.mp3 b.mp3 ");
  EXPECT_EQ(render("env.sharedDir.sort('filesize'); env.sharedDir.sort('filename'); env.sharedDir.sort('other');", music),
            "533");
}

}  // namespace
}  // namespace vantrel::providers
