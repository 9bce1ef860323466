// SPDX-License-Identifier: MIT
#include "tools/pack/pack_tool.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "templates/template_archive.h"
#include "tests/support/temp_folder.h"

namespace vantrel::pack {
namespace {

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

Outcome tool(std::vector<std::string> args) {
  std::ostringstream out;
  std::ostringstream err;
  const int code = runPackTool(args, out, err);
  return {code, out.str(), err.str()};
}

std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void spit(const std::filesystem::path& p, std::string_view bytes) {
  std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class PackToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pages = dir.path() / "pages";
    std::filesystem::create_directories(pages / "subfolder");
    spit(pages / "client-start_template.html",
         "<# start #>Hello <# env.command.commandData; #><# tmpl.tail; #><# endtmpl #>\n<# tail #>!<# endtmpl #>");
    spit(pages / "logo.gif", std::string("GIF89a\0\x01\xff", 9));
    spit(pages / "subfolder" / "skipped.html", "not packed");
  }

  vantrel::testing::TempFolder dir;
  std::filesystem::path pages;
};

TEST_F(PackToolTest, PackUnpackPackIsByteIdentical) {
  const auto first = dir.path() / "first.dat";
  const auto second = dir.path() / "second.dat";
  const auto out = dir.path() / "out";
  ASSERT_EQ(tool({"pack", pages, first, "--version", "12"}).code, kExitOk);
  const Outcome unpacked = tool({"unpack", first, out});
  ASSERT_EQ(unpacked.code, kExitOk) << unpacked.err;
  EXPECT_EQ(unpacked.out, "version 12\n");
  EXPECT_EQ(slurp(out / "logo.gif"), slurp(pages / "logo.gif"));
  EXPECT_FALSE(std::filesystem::exists(out / "subfolder"));
  ASSERT_EQ(tool({"pack", out, second, "--version", "12"}).code, kExitOk);
  EXPECT_EQ(slurp(first), slurp(second));

  const Outcome listed = tool({"list", first});
  EXPECT_EQ(listed.code, kExitOk);
  EXPECT_EQ(listed.out, "version 12\nclient-start_template.html 101\nlogo.gif 9\n");
}

TEST_F(PackToolTest, RenderWritesExactlyThePage) {
  const auto packed = dir.path() / "filedata.dat";
  ASSERT_EQ(tool({"pack", pages, packed}).code, kExitOk);
  for (const std::string& source : {pages.string(), packed.string()}) {
    SCOPED_TRACE(source);
    const Outcome r = tool({"render", source, "client-start_template.html", "a=1", "b=x y"});
    EXPECT_EQ(r.code, kExitOk);
    // The real command provider encodes the values it writes back into a query.
    EXPECT_EQ(r.out, "Hello a=1&b=x+y&!");
    EXPECT_EQ(r.err, "");
  }
  const Outcome missing = tool({"render", pages, "nothere.html"});
  EXPECT_EQ(missing.code, kExitFailed);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "400 Cannot find requested template\n");

  spit(pages / "broken.html", "<# start; 1 +; endtmpl #>");
  const Outcome broken = tool({"render", pages, "broken.html"});
  EXPECT_EQ(broken.code, kExitFailed);
  EXPECT_EQ(broken.out, "");
  EXPECT_EQ(broken.err, "template start, line 1: invalid operand\nno templates added\n401 Cannot parse template\n");
}

TEST_F(PackToolTest, CheckReportsEveryFailingTemplate) {
  EXPECT_EQ(tool({"check", pages}).code, kExitOk);
  spit(pages / "a.html", "<# start;\n\nwhile; endwhile; endtmpl #>");
  spit(pages / "b.html", "<# other #>x<# endtmpl #>");
  spit(pages / "notes.txt", "no code here");
  const Outcome r = tool({"check", pages});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_EQ(r.out,
            "a.html: template start, line 3: while lacks expression\n"
            "a.html: no templates added\n"
            "b.html: no template named start\n");
}

TEST_F(PackToolTest, BrokenArchivesFailWithOneLine) {
  const auto packed = dir.path() / "filedata.dat";
  ASSERT_EQ(tool({"pack", pages, packed}).code, kExitOk);
  const std::string bytes = slurp(packed);
  const auto cut = dir.path() / "cut.dat";
  for (size_t n : {size_t{0}, size_t{3}, size_t{20}, bytes.size() - 1}) {
    spit(cut, std::string_view(bytes).substr(0, n));
    for (const char* command : {"list", "check"}) {
      const Outcome r = tool({command, cut});
      EXPECT_EQ(r.code, kExitFailed) << n;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      EXPECT_EQ(r.err.rfind("vantrel-pack: ", 0), 0u) << r.err;
    }
  }
  EXPECT_EQ(tool({"list", dir.path() / "absent.dat"}).code, kExitFailed);
  EXPECT_EQ(tool({"pack", pages}).code, kExitUsage);
  EXPECT_EQ(tool({"pack", pages, packed, "--version", "x"}).code, kExitUsage);
}

TEST_F(PackToolTest, UnpackRefusesNamesThatLeaveTheFolder) {
  for (const char* name : {"../escape.html", "sub/file.html", "..", ""}) {
    templates::TemplateArchive archive;
    archive.add(name, templates::CFileArchiveEntry("x"));
    const std::vector<uint8_t> bytes = archive.write();
    const auto file = dir.path() / "evil.dat";
    spit(file, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    const Outcome r = tool({"unpack", file, dir.path() / "out"});
    EXPECT_EQ(r.code, kExitFailed) << name;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "escape.html"));
  }
}

}  // namespace
}  // namespace vantrel::pack
