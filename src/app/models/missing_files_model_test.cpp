// SPDX-License-Identifier: MIT
#include "app/models/missing_files_model.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "catalogue/sync/sync_test_server.h"

namespace vantrel {
namespace {

using sync_testing::FakeCatalogueServer;

class MissingFilesModelTest : public ::testing::Test, public sync_testing::ProtocolFixture {
 protected:
  MissingFilesModelTest() { loggedIn(7); }
  std::string make(const std::string& rel, std::size_t size) {
    const auto p = dir.path() / rel;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p) << std::string(size, 'x');
    return p.string();
  }
  // A shared file that has gone from where it was shared.
  void moved(int32_t id, const std::string& name, int32_t size) {
    CVantreldFile record(make("old/" + name, static_cast<std::size_t>(size)));
    record.Verify();
    record.fileId = id;
    record.dirId = 5;
    list.Add(record);
    std::filesystem::remove(record.localPath);
    list.Update(id, [](CVantreldFile& r) { r.Verify(); });  // now invalid, still listed
  }
  SharedFileList list{(dir.path() / "bob.dat").string()};
};

TEST_F(MissingFilesModelTest, AFrontEndFindsMovedFilesAndSharesThemAgainUnderTheirIds) {
  FakeCatalogueServer server(*this);
  moved(10, "Song.MP3", 4);
  moved(20, "gone.txt", 3);
  make("new/a/song.mp3", 9);
  const std::string closest = make("new/b/song.mp3", 5);
  MissingFilesModel dialog(list, ctx);

  ASSERT_EQ(dialog.rows().size(), 2u);
  EXPECT_EQ(dialog.rows()[1].name, "song.mp3");
  EXPECT_EQ(dialog.rows()[1].replacement, MissingFiles::kStopSharing);
  EXPECT_EQ(dialog.browseProblem(2), "Select one file at a time to browse for");

  std::vector<std::string> lines;
  dialog.autoFind({(dir.path() / "new").string()}, [&](const std::string& line) { lines.push_back(line); });
  EXPECT_EQ(lines.size(), 2u);
  EXPECT_EQ(dialog.rows()[1].replacement, closest);  // 5 bytes is closer to 4 than 9 is
  EXPECT_EQ(dialog.rows()[1].replacementSize, 5);

  // Browsing picks another file; its size is read from the disk.
  const std::string picked = make("picked/song.mp3", 4);
  dialog.replaceWith("song.mp3", picked);
  EXPECT_EQ(dialog.rows()[1].replacementSize, 4);

  EXPECT_EQ(dialog.stopSharingNames(), std::vector<std::string>{"gone.txt"});
  dialog.apply();
  // The found file is shared again under its ID; the other leaves both sides.
  ASSERT_TRUE(list.Contains(10));
  EXPECT_EQ(list.Lookup(10)->localPath, picked);
  EXPECT_TRUE(list.Lookup(10)->isValid);
  EXPECT_FALSE(list.Contains(20));
  EXPECT_EQ(server.bodies(), std::vector<std::string>{"action=remove_file&fileid=20"});
}

}  // namespace
}  // namespace vantrel
