// SPDX-License-Identifier: MIT
#include "templates/template_archive.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace vantrel::templates {
namespace {

using Bytes = std::vector<uint8_t>;

void append(Bytes& b, std::initializer_list<int> values) {
  for (int v : values) b.push_back(static_cast<uint8_t>(v));
}
void appendText(Bytes& b, std::string_view text) { b.insert(b.end(), text.begin(), text.end()); }
void appendScrambled(Bytes& b, std::string_view text) {
  Bytes content(text.begin(), text.end());
  scramble(content);
  b.insert(b.end(), content.begin(), content.end());
}

class RecordingUi : public UserInterface {
 public:
  MessageAnswer showMessage(const MessageBox& box) override {
    boxes.push_back(box);
    return MessageAnswer::Ok;
  }
  std::vector<MessageBox> boxes;
};

TEST(TemplateArchive, WritesTheFileFormatByteForByte) {
  TemplateArchive archive;
  archive.setVersion(7);
  CFileArchiveEntry a("<html>");
  a.word1 = 0x01020304;
  a.word2 = 0x05060708;
  a.word3 = 0x090A0B0C;
  archive.add("a.html", a);
  archive.add("b.gif", CFileArchiveEntry("GIF"));

  Bytes want;
  append(want, {7, 0, 0, 0, 2, 0});
  append(want, {6});
  appendText(want, "a.html");
  append(want, {0xFF, 0xFF, 0, 0, 17, 0});
  appendText(want, "CFileArchiveEntry");
  append(want, {6, 0, 0, 0, 8, 7, 6, 5, 0x0C, 0x0B, 0x0A, 0x09, 4, 3, 2, 1});
  appendScrambled(want, "<html>");
  append(want, {5});
  appendText(want, "b.gif");
  append(want, {0x01, 0x80, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  appendScrambled(want, "GIF");
  EXPECT_EQ(archive.write(), want);

  TemplateArchive back;
  ASSERT_EQ(back.read(want), ArchiveError::None);
  EXPECT_EQ(back.TemplateVersion(), 7);
  EXPECT_EQ(back.FindEntry("a.html"), "<html>");
  EXPECT_EQ(back.FindEntry("b.gif"), "GIF");
  EXPECT_EQ(back.entries().at("a.html").word1, 0x01020304u);
  EXPECT_EQ(back.entries().at("a.html").word3, 0x090A0B0Cu);
  EXPECT_EQ(back.FindEntry("A.html"), std::nullopt);
  EXPECT_EQ(back.write(), want);
}

TEST(TemplateArchive, ScramblingRestartsForEveryEntryAndUndoesItself) {
  std::string text(1000, '\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 7);
  Bytes bytes(text.begin(), text.end());
  scramble(bytes);
  EXPECT_NE(Bytes(text.begin(), text.end()), bytes);
  scramble(bytes);
  EXPECT_EQ(Bytes(text.begin(), text.end()), bytes);

  // The key repeats with a fixed period and starts afresh for each entry, so
  // two entries with the same content are stored the same.
  TemplateArchive archive;
  archive.add("one", CFileArchiveEntry(text));
  archive.add("two", CFileArchiveEntry(text));
  const Bytes file = archive.write();
  const std::string stored(file.begin(), file.end());
  Bytes once(text.begin(), text.end());
  scramble(once);
  const std::string scrambled(once.begin(), once.end());
  const size_t first = stored.find(scrambled);
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(stored.find(scrambled, first + 1), std::string::npos);
}

TEST(TemplateArchive, NegativeVersionLoadsAsZero) {
  TemplateArchive archive;
  archive.setVersion(-5);
  TemplateArchive back;
  ASSERT_EQ(back.read(archive.write()), ArchiveError::None);
  EXPECT_EQ(back.TemplateVersion(), 0);
}

TEST(TemplateArchive, LargeCountsUseTheEscape) {
  TemplateArchive archive;
  for (int i = 0; i < 0xFFFF; ++i) archive.add(std::to_string(i), CFileArchiveEntry(""));
  const Bytes file = archive.write();
  EXPECT_EQ(Bytes(file.begin() + 4, file.begin() + 10), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 0}));
  TemplateArchive back;
  ASSERT_EQ(back.read(file), ArchiveError::None);
  EXPECT_EQ(back.entries().size(), 0xFFFFu);
}

TEST(TemplateArchive, MalformedArchivesAreRejected) {
  TemplateArchive good;
  good.add("page.html", CFileArchiveEntry("<# start #>x<# endtmpl #>"));
  good.add("second", CFileArchiveEntry("y"));
  const Bytes file = good.write();

  // Every truncation fails cleanly and leaves the archive empty.
  for (size_t n = 0; n < file.size(); ++n) {
    TemplateArchive archive;
    archive.add("stale", CFileArchiveEntry("z"));
    EXPECT_NE(archive.read(std::span(file.data(), n)), ArchiveError::None) << n;
    EXPECT_TRUE(archive.entries().empty());
  }

  struct Case {
    const char* name;
    Bytes bytes;
    ArchiveError error;
  };
  Bytes header;
  append(header, {1, 0, 0, 0, 1, 0, 1, 'x'});
  auto with = [&](std::initializer_list<int> tail, std::string_view text = {}) {
    Bytes b = header;
    append(b, tail);
    appendText(b, text);
    return b;
  };
  const Case cases[] = {
      {"count beyond the data", Bytes{1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, ArchiveError::BadLength},
      {"another class", with({0xFF, 0xFF, 0, 0, 17, 0}, "CSomethingElseXYZ"), ArchiveError::UnknownClass},
      {"another schema", with({0xFF, 0xFF, 1, 0, 17, 0}, "CFileArchiveEntry"), ArchiveError::BadSchema},
      {"class never announced", with({0x01, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), ArchiveError::BadIndex},
      {"no object", with({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), ArchiveError::BadTag},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TemplateArchive archive;
    EXPECT_EQ(archive.read(c.bytes), c.error);
  }

  // A content length beyond the data, or a negative one.
  for (int32_t length : {1 << 30, -1}) {
    Bytes b = with({0xFF, 0xFF, 0, 0, 17, 0}, "CFileArchiveEntry");
    for (int shift = 0; shift < 32; shift += 8) b.push_back(static_cast<uint8_t>(static_cast<uint32_t>(length) >> shift));
    append(b, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'a', 'b'});
    TemplateArchive archive;
    EXPECT_EQ(archive.read(b), ArchiveError::BadLength) << length;
  }
}

TEST(LoadTemplateArchive, ReportsEachKindOfFailure) {
  vantrel::testing::TempFolder dir;
  RecordingUi ui;
  TemplateArchive archive;

  EXPECT_FALSE(LoadTemplateArchive(dir.path() / "missing.dat", archive, ui));
  EXPECT_TRUE(ui.boxes.empty());

  EXPECT_FALSE(LoadTemplateArchive(dir.path(), archive, ui));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "File Exception: Opening Template Archive : Is a directory");
  EXPECT_EQ(ui.boxes[0].title, "Warning");
  EXPECT_EQ(ui.boxes[0].icon, MessageIcon::Warning);
  EXPECT_TRUE(ui.boxes[0].foreground);

  const auto broken = dir.path() / "broken.dat";
  std::ofstream(broken, std::ios::binary) << std::string("\x01\x00\x00\x00\x05\x00", 6);
  EXPECT_FALSE(LoadTemplateArchive(broken, archive, ui));
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[1].text, "Archive Exception: Opening Template Archive : length or count larger than the archive");
  EXPECT_EQ(ui.boxes[1].title, "Warning");

  TemplateArchive good;
  good.setVersion(3);
  good.add("start.html", CFileArchiveEntry("page"));
  const Bytes bytes = good.write();
  const auto path = dir.path() / "filedata.dat";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(LoadTemplateArchive(path, archive, ui));
  EXPECT_EQ(archive.TemplateVersion(), 3);
  EXPECT_EQ(archive.FindEntry("start.html"), "page");
  EXPECT_EQ(ui.boxes.size(), 2u);

  EXPECT_EQ(findTemplateArchive(dir.path() / "nohome", dir.path(), {}), path);
}

}  // namespace
}  // namespace vantrel::templates
