// SPDX-License-Identifier: MIT
#include "fileserver/template_page_renderer.h"

#include <gtest/gtest.h>

#include "core/testing/scratch_dir.h"
#include "fileserver/file_server.h"
#include "fileserver/testing_fakes.h"
#include "net/test_sockets.h"
#include "templates/template_limits.h"

namespace vantrel {
namespace {

using templates::CFileArchiveEntry;

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

class TemplatePages : public ::testing::Test {
 protected:
  void SetUp() override {
    archive.add("client-hello_template.html", CFileArchiveEntry("<# start #>hello<# endtmpl #>"));
    archive.add("client-deep_template.html", CFileArchiveEntry(deepestPage()));
    archive.add("logo.gif", CFileArchiveEntry("GIF89a"));
    ASSERT_EQ(server.listen(0), kListenOk);
    ASSERT_EQ(server.start(), 0);
  }

  std::string get(const std::string& url) {
    auto fd = testing::connectLoopback(server.port());
    testing::sendAll(fd.get(), "GET " + url + " HTTP/1.0\r\n\r\n");
    const std::string reply = testing::readAll(fd.get());
    const std::size_t body = reply.find("\r\n\r\n");
    return body == std::string::npos ? reply : reply.substr(body + 4);
  }

  core_testing::ScratchDir dir;
  templates::TemplateArchive archive;
  SharedFileList files{dir.file("u.dat")};
  testing::FakeHost host;
  TemplatePageRenderer renderer{archive, nullptr, nullptr};
  FileServer server{host, renderer, files, nullptr, nullptr};
};

TEST_F(TemplatePages, ServesPagesAndImagesOfTheArchive) {
  EXPECT_EQ(get("/template/client-hello_template.html?token=a$b"), "hello");
  EXPECT_EQ(get("/images/logo.gif"), "GIF89a");
  // Neither the page nor the error page exists: the title of the error is the body.
  EXPECT_EQ(get("/template/client-none.html?token=a$b"), "Cannot find requested template");
}

TEST_F(TemplatePages, TheDeepestPageRendersOnAConnectionThread) {
  EXPECT_EQ(get("/template/client-deep_template.html?token=a$b"), "deep");
}

}  // namespace
}  // namespace vantrel
