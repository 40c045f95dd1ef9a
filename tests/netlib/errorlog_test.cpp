// The error log: level filter, one line per entry, rotation at the limit.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "sockio.h"
#include "test_support.h"

namespace {

TEST(ErrorLog, WritesEntriesUpToItsLevelEachOnOneLine) {
  TempDir dir;
  std::string log = dir.Path("TORMEL.LOG");
  ASSERT_NE(CLogOpen(log.c_str(), 50, 2000), 0);
  CLogWrite("tormel", "TormelWork()", 100, 0, 0, "Fehler: CSocketClientOpen! ErrorCode: 111", "");
  CLogWrite("tormel", "SndWithReply()", 1, 9002, 7, "two\nlines \"quoted\"", "detail\ttext");
  CLogWrite("tormel", "TormelWork()", 50, 1, 0, "at the level", "");

  auto lines = TextLines(ReadFile(log));
  ASSERT_EQ(lines.size(), 2u);
  const std::string& first = lines[0];
  EXPECT_NE(first.find("pid=" + std::to_string(getpid())), std::string::npos) << first;
  EXPECT_NE(first.find("source=tormel function=SndWithReply() severity=1 code=9002 secondary=7"), std::string::npos)
      << first;
  EXPECT_NE(first.find("message=\"two\\x0alines \\\"quoted\\\"\" detail=\"detail\\x09text\""), std::string::npos)
      << first;
  EXPECT_NE(lines[1].find("severity=50"), std::string::npos);
  // Local time with milliseconds leads the entry: 2026-12-08 16:47:47.123
  ASSERT_GE(first.size(), 23u);
  EXPECT_EQ(first[4], '-');
  EXPECT_EQ(first[10], ' ');
  EXPECT_EQ(first[19], '.');

  ASSERT_NE(CLogOpen(log.c_str(), 0, 2000), 0);
  CLogWrite("tormel", "TormelWork()", 1, 0, 0, "level 0 writes nothing", "");
  EXPECT_EQ(TextLines(ReadFile(log)).size(), 2u);
}

TEST(ErrorLog, RotatesToOldBeforePassingTheLimit) {
  TempDir dir;
  std::string log = dir.Path("t.log");
  ASSERT_NE(CLogOpen(log.c_str(), 1000, 1), 0);  // 1 KiB
  std::string message(100, 'm');
  for (int i = 0; i < 25; ++i) CLogWrite("tormel", "TormelWork()", 1, i, 0, message.c_str(), "");
  std::string current = ReadFile(log);
  std::string old = ReadFile(log + ".old");
  EXPECT_LE(current.size(), 1024u);
  EXPECT_LE(old.size(), 1024u);
  EXPECT_GT(old.size(), 1024u - 220u);  // it filled up before it moved aside
  // The newest entry is in the current file, and no entry was cut.
  EXPECT_NE(current.find("code=24 "), std::string::npos);
  for (const auto& text : {current, old})
    for (const auto& line : TextLines(text)) EXPECT_NE(line.find("detail=\"\""), std::string::npos) << line;
}

// The limit counts KiB: with 1, a log of 1,020 bytes is not rotated (as a
// limit of 1,000 bytes would have it); the entry that would pass 1,024 is.
TEST(ErrorLog, LimitCountsKibibytes) {
  TempDir dir;
  auto write = [](char c, size_t length) {
    CLogWrite("tormel", "TormelWork()", 1, 0, 0, std::string(length, c).c_str(), "");
  };
  std::string scratch = dir.Path("scratch.log");
  ASSERT_NE(CLogOpen(scratch.c_str(), 1000, 10000), 0);
  write('m', 0);
  const size_t overhead = ReadFile(scratch).size();  // an entry without message
  ASSERT_LT(overhead, 160u);

  std::string log = dir.Path("k.log");
  ASSERT_NE(CLogOpen(log.c_str(), 1000, 1), 0);
  write('a', 860 - overhead);
  write('b', 160 - overhead);
  EXPECT_EQ(ReadFile(log).size(), 1020u);
  EXPECT_FALSE(FileExists(log + ".old"));
  write('c', 0);
  EXPECT_EQ(ReadFile(log + ".old").size(), 1020u);
  EXPECT_EQ(ReadFile(log).size(), overhead);
}

TEST(ErrorLog, ConcurrentWritersNeverInterleave) {
  TempDir dir;
  std::string log = dir.Path("shared.log");
  ASSERT_NE(CLogOpen(log.c_str(), 1000, 10000), 0);
  std::vector<pid_t> children;
  for (int c = 0; c < 4; ++c) {
    pid_t pid = fork();
    if (pid == 0) {
      std::string mine(300, static_cast<char>('a' + c));
      for (int i = 0; i < 200; ++i) CLogWrite("tormel", "TormelWork()", 1, i, c, mine.c_str(), "");
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) waitpid(pid, nullptr, 0);
  auto lines = TextLines(ReadFile(log));
  ASSERT_EQ(lines.size(), 800u);
  for (const auto& line : lines) {
    size_t at = line.find("message=\"");
    ASSERT_NE(at, std::string::npos);
    std::string body = line.substr(at + 9, 300);
    EXPECT_EQ(body, std::string(300, body[0]));
  }
}

TEST(ErrorLog, AnUnwritableLogNeverStopsTheCaller) {
  TempDir dir;
  EXPECT_EQ(CLogOpen(dir.Path("missing/folder/x.log").c_str(), 1000, 10), 0);
  EXPECT_NE(CLogWrite("tormel", "TormelWork()", 1, 0, 0, "nowhere to go", ""), 0);
  std::string log = dir.Path("gone.log");
  ASSERT_NE(CLogOpen(log.c_str(), 1000, 10), 0);
  ASSERT_EQ(unlink(log.c_str()), 0);
  ASSERT_EQ(rmdir(dir.path.c_str()), 0);
  EXPECT_NE(CLogWrite("tormel", "TormelWork()", 1, 0, 0, "folder removed", ""), 0);
}

}  // namespace
