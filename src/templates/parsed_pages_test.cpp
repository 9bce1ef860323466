// SPDX-License-Identifier: MIT
#include "templates/parsed_pages.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "templates/template_test_util.h"

namespace vantrel::templates {
namespace {

// Loops, a call, and "execute" (which adds variables while it runs): the parts
// of a run that could touch the tree a parse made.
constexpr std::string_view kPage =
    "<# start; i := 0; while i < 40, i++; tmpl.twice(i); endwhile; "
    "execute('<# n := 3; j := n * 2; j; #>'); execute('<# k := 7; k $ j; #>'); endtmpl #>"
    "<# twice(v) #><# v * 2; ','; #><# endtmpl #>";

TEST(ParsedPages, ParsesEachEntryOnceAndKeepsItsReport) {
  TemplateArchive archive;
  archive.add("page.html", CFileArchiveEntry(std::string(kPage)));
  archive.add("broken.html", CFileArchiveEntry("<# start #>fine<# endtmpl #>\n<# second #><# x := ; #><# endtmpl #>"));
  ParsedPages pages(archive);

  EXPECT_EQ(pages.find("missing.html"), nullptr);
  EXPECT_EQ(pages.find("Page.html"), nullptr);  // names are exact
  const ParsedPages::Page* page = pages.find("page.html");
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(pages.find("page.html"), page);
  EXPECT_TRUE(page->reports.empty());

  const ParsedPages::Page* broken = pages.find("broken.html");
  ASSERT_NE(broken, nullptr);
  EXPECT_EQ(broken->reports, testing::renderText(*archive.FindEntry("broken.html")).reports);
  EXPECT_FALSE(broken->reports.empty());
  EXPECT_NE(broken->set.find("start"), nullptr);
}

// A page parsed once is run by many connections at once; each must get the
// page a fresh parse gives.
TEST(ParsedPages, ConcurrentRunsOfOneParseGiveTheFreshParsePage) {
  TemplateArchive archive;
  archive.add("page.html", CFileArchiveEntry(std::string(kPage)));
  const std::string expected = testing::renderText(kPage).page;
  ASSERT_NE(expected.find("78,"), std::string::npos) << expected;
  ParsedPages pages(archive);
  std::vector<std::string> got(4);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < got.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        const ParsedPages::Page* page = pages.find("page.html");
        PageBuffer out;
        RunTemplate(*page->set.find("start"), nullptr, out, nullptr);
        if (i == 0 || out.page() != expected) got[t] = out.take();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (const std::string& page : got) EXPECT_EQ(page, expected);
}

}  // namespace
}  // namespace vantrel::templates
