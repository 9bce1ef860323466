// SPDX-License-Identifier: MIT
#include "core/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

using vantrel::testing::readWholeFile;
using vantrel::testing::TempFolder;

class RecordingUserInterface : public UserInterface {
 public:
  MessageAnswer showMessage(const MessageBox& box) override {
    boxes.push_back(box);
    return MessageAnswer::Ok;
  }
  std::vector<MessageBox> boxes;
};

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));  // an unterminated tail shows up as a bad line
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// "%m/%d/%y %H:%M:%S  ": digits where the pattern has 9, the rest as written.
bool hasStamp(std::string_view line) {
  constexpr std::string_view kShape = "99/99/99 99:99:99  ";
  if (line.size() < kShape.size()) return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const bool ok = kShape[i] == '9' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0 : line[i] == kShape[i];
    if (!ok) return false;
  }
  return true;
}

std::string textOf(const std::string& line) {
  EXPECT_TRUE(hasStamp(line)) << line;
  return line.size() >= 19 ? line.substr(19) : line;
}

TEST(Log, LinesCarryTimeStampTextAndCrLf) {
  TempFolder dir;
  const std::string path = dir.file("log.txt");
  {
    Log log(path, 1000, true);
    ASSERT_TRUE(log.isOpen());
    log.logText("Client started");
    log.logActivity("Got Connection", "10.0.0.7");
    log.logError("Error sending", "10.0.0.7", "broken pipe");
    log.logText("");  // nothing for empty text
  }
  const std::string content = readWholeFile(path);
  ASSERT_EQ(content.substr(content.size() - 2), "\r\n");
  const auto lines = linesOf(content);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(textOf(lines[0]), "Client started");
  EXPECT_EQ(textOf(lines[1]), " Got Connection 10.0.0.7 ");
  EXPECT_EQ(textOf(lines[2]), " Error sending 10.0.0.7 broken pipe ");
}

TEST(Log, ReopeningAppendsToWhatIsThere) {
  TempFolder dir;
  const std::string path = dir.file("log.txt");
  { Log(path, 0, true).logText("first run"); }
  { Log(path, 0, true).logText("second run"); }
  const auto lines = linesOf(readWholeFile(path));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(textOf(lines[0]), "first run");
  EXPECT_EQ(textOf(lines[1]), "second run");
}

TEST(Log, OnlyItsOwnerCanReadTheLog) {
  TempFolder dir;
  const std::string fresh = dir.file("log.txt");
  { Log log(fresh, 500, true); }
  // An older version left its log readable to everybody.
  const std::string older = dir.file("older.txt");
  std::ofstream(older) << "old line\r\n";
  ASSERT_EQ(::chmod(older.c_str(), 0644), 0);
  { Log log(older, 500, true); }
  for (const std::string& path : {fresh, older}) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << path;
  }
}

TEST(Log, LevelsDecideWhatIsWritten) {
  struct Case {
    const char* name;
    int detail;
    int error;
    int activityLevel;
    int errorLineLevel;
    bool activityWritten;
    bool errorWritten;
  };
  const Case cases[] = {
      {"basic levels write level 1", 1, 1, 1, 1, true, true},
      {"basic levels skip level 2", 1, 1, 2, 2, false, false},
      {"detailed activity only", 2, 1, 2, 2, true, false},
      {"detailed errors only", 1, 2, 2, 2, false, true},
      {"level 3 needs level 3", 2, 2, 3, 3, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Log log("", 0, false);
    log.setDetailLevel(c.detail);
    log.setErrorLevel(c.error);
    log.logActivity("Got Connection", "10.0.0.7", c.activityLevel);
    log.logText("plain", c.activityLevel);
    log.logError("Bad request", "10.0.0.7", "x", c.errorLineLevel);
    std::size_t want = (c.activityWritten ? 2 : 0) + (c.errorWritten ? 1 : 0);
    EXPECT_EQ(log.recentLines().size(), want);
  }
}

TEST(Log, OverlongMessagesAreReplacedNotCut) {
  struct Case {
    const char* name;
    std::size_t message;
    std::size_t context;
    std::size_t extra;  // SIZE_MAX: an activity line
    bool replaced;
  };
  constexpr std::size_t kActivity = SIZE_MAX;
  const Case cases[] = {
      {"activity of exactly 700", 600, 100, kActivity, false},
      {"activity of 701", 600, 101, kActivity, true},
      {"error of exactly 400", 200, 100, 100, false},
      {"error of 401", 200, 100, 101, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Log log("", 0, false);
    const std::string message(c.message, 'm'), context(c.context, 'c');
    std::string want;
    if (c.extra == kActivity) {
      log.logActivity(message, context);
      want = c.replaced ? "Log Message too long" : " " + message + " " + context + " ";
    } else {
      const std::string extra(c.extra, 'e');
      log.logError(message, context, extra);
      want = c.replaced ? "Error Message too long" : " " + message + " " + context + " " + extra + " ";
    }
    const auto lines = log.recentLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(textOf(lines[0]), want);
  }
}

TEST(Log, MirrorSeesEveryLineAndKeepsTheLastForty) {
  Log log("", 0, false);
  std::vector<std::string> mirrored;
  log.setMirror([&](std::string_view line) { mirrored.emplace_back(line); });
  for (int i = 0; i < 45; ++i) log.logText("line " + std::to_string(i));
  ASSERT_EQ(mirrored.size(), 45u);
  EXPECT_EQ(textOf(mirrored.back()), "line 44");
  const auto recent = log.recentLines();
  ASSERT_EQ(recent.size(), 40u);
  EXPECT_EQ(textOf(recent.front()), "line 5");
  EXPECT_EQ(textOf(recent.back()), "line 44");
}

TEST(Log, OpenFailureIsShownOnceAndLoggingGoesOn) {
  TempFolder dir;
  RecordingUserInterface ui;
  Log log(dir.file("missing-folder/log.txt"), 0, true, &ui);
  EXPECT_FALSE(log.isOpen());
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Unable to open log.txt for writing");
  EXPECT_EQ(ui.boxes[0].title, "Error");
  EXPECT_EQ(ui.boxes[0].icon, MessageIcon::Warning);
  EXPECT_TRUE(ui.boxes[0].foreground);
  log.logText("still running");
  EXPECT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(log.recentLines().size(), 1u);
}

TEST(Log, TrimmedLogStaysBoundedAndKeepsWritingToTheSameFile) {
  TempFolder dir;
  const std::string path = dir.file("log.txt");
  Log log(path, 1, true);  // 1,024 bytes
  const std::string filler(80, 'x');
  for (int i = 0; i < 200; ++i) {
    log.logText(filler + std::to_string(i));
    ASSERT_LE(readWholeFile(path).size(), log.maxSizeBytes()) << "after line " << i;
  }
  // The newest line is in log.txt itself, not in a file that was deleted under us.
  const auto lines = linesOf(readWholeFile(path));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(textOf(lines.back()), filler + "199");
}

TEST(Log, LinesFromManyThreadsNeverInterleave) {
  TempFolder dir;
  const std::string path = dir.file("log.txt");
  constexpr int kThreads = 4;
  constexpr int kLines = 300;
  {
    Log log(path, 0, false);
    std::vector<std::jthread> writers;
    for (int t = 0; t < kThreads; ++t) {
      writers.emplace_back([&log, t] {
        const std::string body(100 + t * 37, static_cast<char>('a' + t));
        for (int i = 0; i < kLines; ++i) log.logActivity(body, std::to_string(i));
      });
    }
  }
  const auto lines = linesOf(readWholeFile(path));
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
  // Each line: stamp, " ", one writer's body whole, " ", its number, " ".
  for (const auto& line : lines) {
    ASSERT_TRUE(hasStamp(line)) << line;
    const std::string text = line.substr(19);
    ASSERT_GE(text.size(), 4u) << line;
    const char c = text[1];
    ASSERT_TRUE(c >= 'a' && c < 'a' + kThreads) << line;
    const std::size_t body = 100 + static_cast<std::size_t>(c - 'a') * 37;
    ASSERT_EQ(text.substr(0, body + 2), " " + std::string(body, c) + " ") << line;
    const std::string number = text.substr(body + 2);
    ASSERT_FALSE(number.size() < 2 || number.back() != ' ') << line;
    for (std::size_t i = 0; i + 1 < number.size(); ++i) ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(number[i]))) << line;
  }
}

}  // namespace
}  // namespace vantrel
