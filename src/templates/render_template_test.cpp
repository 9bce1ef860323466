// SPDX-License-Identifier: MIT
#include "templates/render_template.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <iterator>
#include <string>
#include <vector>

#include "core/log.h"
#include "templates/sample_providers.h"
#include "tests/support/temp_folder.h"

namespace vantrel::templates {
namespace {

class RenderTemplateTest : public ::testing::Test {
 protected:
  RenderResult render(std::string_view name) { return RenderTemplate(name, &archive, request, services); }
  std::string logText() const {
    std::ifstream in(dir.file("log.txt"));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  vantrel::testing::TempFolder dir;
  Log log{dir.file("log.txt"), 0, false};
  TemplateArchive archive;
  SampleRequest request{"10.1.2.3"};
  SampleProviders providers;
  std::vector<std::string> reports;
  RenderServices services{&providers, &log, [this](std::string_view line) { reports.emplace_back(line); }, {}};
  void SetUp() override { log.setDetailLevel(2); }
};

TEST_F(RenderTemplateTest, MissingEntryIs400) {
  archive.add("Page.html", CFileArchiveEntry("<# start #>x<# endtmpl #>"));
  const RenderResult r = render("page.html");
  EXPECT_EQ(r.error, err::kTemplateNotFound);
  EXPECT_TRUE(r.page.empty());
  EXPECT_NE(logText().find("  Error loading filereader for template page.html 10.1.2.3 \r\n"), std::string::npos);
  EXPECT_EQ(RenderTemplate("page.html", nullptr, request, services).error, err::kTemplateNotFound);
}

TEST_F(RenderTemplateTest, FileWithoutStartIs401) {
  archive.add("nostart.html", CFileArchiveEntry("<# other #>x<# endtmpl #>"));
  archive.add("broken.html", CFileArchiveEntry("<# start; 1 + ; endtmpl #>"));
  EXPECT_EQ(render("nostart.html").error, err::kTemplateParse);
  EXPECT_NE(logText().find("  Error finding start/finish tags in nostart.html 10.1.2.3 \r\n"), std::string::npos);
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ(render("broken.html").error, err::kTemplateParse);
  EXPECT_EQ(reports, (std::vector<std::string>{"template start, line 1: invalid operand", "no templates added"}));
}

TEST_F(RenderTemplateTest, RendersLargeFilesWholeAndStopsAtAZeroByte) {
  std::string body;
  for (int i = 0; body.size() < 100000; ++i) body += "line " + std::to_string(i) + "\n";
  archive.add("big.html", CFileArchiveEntry("<# start #>" + body + "<# endtmpl #>"));
  EXPECT_EQ(render("big.html").page, body);

  archive.add("zero.html", CFileArchiveEntry(std::string("<# start #>before<# endtmpl #>\0<# junk", 37)));
  const RenderResult r = render("zero.html");
  EXPECT_EQ(r.error, err::kOk);
  EXPECT_EQ(r.page, "before");
}

TEST_F(RenderTemplateTest, EnvironmentRootAndSampleProviders) {
  request.add("fileid", "12");
  request.add("q", "a b");
  archive.add("env.html", CFileArchiveEntry(
                              "<# start #>"
                              "<# env.output; #>|<# env.Client.UserName; #>|<# env.client.port + 1; #>|"
                              "<# env.nothing.at.all; #>|<# env.command.commandData; #>|<# env.command.image('a.gif'); #>|"
                              "<# env.bogus; #>|<# env.client.bogus; #>"
                              "<# endtmpl #>"));
  EXPECT_EQ(render("env.html").page,
            "output only|sample|8324||fileid=12&q=a b&|/images/a.gif| bogus: command unknown 0| bogus: command unknown ");
}

TEST_F(RenderTemplateTest, EmptyPageIsNotAnError) {
  archive.add("empty.html", CFileArchiveEntry("<# start; x := 1; endtmpl #>"));
  const RenderResult r = render("empty.html");
  EXPECT_EQ(r.error, err::kOk);
  EXPECT_TRUE(r.page.empty());
}

TEST(RenderTemplateThreads, ConnectionsRenderFromOneArchiveAtOnce) {
  TemplateArchive archive;
  archive.add("page.html", CFileArchiveEntry("<# row(n) #><# n; #>,<# endtmpl #>"
                                             "<# start; i := 0; while i < 50, i++; tmpl.row(i); endwhile; "
                                             "env.command.commandData; endtmpl #>"));
  std::string expected;
  for (int i = 0; i < 50; ++i) expected += std::to_string(i) + ",";
  std::atomic<int> good{0};
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        SampleProviders providers;
        RenderServices services;
        services.providers = &providers;
        for (int k = 0; k < 20; ++k) {
          SampleRequest request;
          request.add("t", std::to_string(t));
          if (RenderTemplate("page.html", &archive, request, services).page == expected + "t=" + std::to_string(t) + "&") {
            ++good;
          }
        }
      });
    }
  }
  EXPECT_EQ(good.load(), 80);
}

}  // namespace
}  // namespace vantrel::templates
