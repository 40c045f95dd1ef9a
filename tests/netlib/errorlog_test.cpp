// The error log: level filter, one line per entry, rotation at the limit.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "os_process.h"
#include "sockio.h"
#include "test_process.h"
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
  EXPECT_NE(first.find("pid=" + std::to_string(OsProcessId()) + " "), std::string::npos) << first;
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
  std::vector<ChildProcess> writers;
  for (char c : {'a', 'b', 'c', 'd'})
    writers.push_back(StartProcess(TORMEL_LOG_WRITER_BIN, {log, "200", std::string(1, c)}, dir.path));
  for (ChildProcess& writer : writers) EXPECT_EQ(WaitExit(writer), 0);
  auto lines = TextLines(ReadFile(log));
  ASSERT_EQ(lines.size(), 800u);
  for (const auto& line : lines) {
    size_t at = line.find("message=\"");
    ASSERT_NE(at, std::string::npos);
    std::string body = line.substr(at + 9, 300);
    EXPECT_EQ(body, std::string(300, body[0]));
  }
}

// A ".old" that cannot be replaced (a folder) must not let the log grow
// without bound: it is emptied instead, and says so.
TEST(ErrorLog, BlockedRotationEmptiesTheLogAndSaysSo) {
  TempDir dir;
  std::string log = dir.Path("t.log");
  std::filesystem::create_directory(log + ".old");
  ASSERT_NE(CLogOpen(log.c_str(), 1000, 1), 0);
  std::string message(100, 'm');
  for (int i = 0; i < 25; ++i) CLogWrite("tormel", "TormelWork()", 1, i, 0, message.c_str(), "");
  std::string current = ReadFile(log);
  EXPECT_LE(current.size(), 1024u);
  auto lines = TextLines(current);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_NE(lines[0].find("function=CLogWrite() severity=1"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("nicht nach .old umbenannt"), std::string::npos) << lines[0];
  EXPECT_NE(lines.back().find("code=24 "), std::string::npos) << lines.back();
}

TEST(ErrorLog, AnUnwritableLogNeverStopsTheCaller) {
  TempDir dir;
  EXPECT_EQ(CLogOpen(dir.Path("missing/folder/x.log").c_str(), 1000, 10), 0);
  EXPECT_NE(CLogWrite("tormel", "TormelWork()", 1, 0, 0, "nowhere to go", ""), 0);
  std::string folder = dir.Path("folder");
  std::filesystem::create_directory(folder);
  std::string log = folder + "/gone.log";
  ASSERT_NE(CLogOpen(log.c_str(), 1000, 10), 0);
  ASSERT_TRUE(std::filesystem::remove(log));
  ASSERT_TRUE(std::filesystem::remove(folder));
  EXPECT_NE(CLogWrite("tormel", "TormelWork()", 1, 0, 0, "folder removed", ""), 0);
}

}  // namespace
