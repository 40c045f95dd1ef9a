// The error log where only POSIX can set the scene: a link or a FIFO in
// place of the log, and a file system that runs full in the middle of an
// entry.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "sockio.h"
#include "test_support.h"

namespace {

TEST(PosixErrorLog, OnlyARegularFileOpensAsTheLogNeverThroughALink) {
  TempDir dir;
  std::string target = dir.Path("elsewhere.txt");
  WriteFile(target, "not a log\n");
  std::filesystem::create_symlink(target, dir.Path("link.log"));
  ASSERT_EQ(mkfifo(dir.Path("fifo.log").c_str(), 0600), 0);
  for (const char* name : {"link.log", "fifo.log"}) {
    EXPECT_EQ(CLogOpen(dir.Path(name).c_str(), 1000, 10), 0) << name;  // at once: a FIFO open must not block
  }
  EXPECT_EQ(ReadFile(target), "not a log\n");
}

// On a tmpfs of four pages, its last free byte taken by a filler, an entry
// that begins in the log's last page fits only in part.
TEST(PosixErrorLog, EntryThatFitsOnlyInPartOnAFullFileSystemLeavesNoTornLine) {
  TempDir dir;
  std::string mountPoint = dir.Path("small");
  std::filesystem::create_directory(mountPoint);
  if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=16k") != 0) {
    // Root may mount; CI runs as root, so there the case never goes unseen.
    if (geteuid() == 0) FAIL() << "mounting a small tmpfs as root: " << strerror(errno);
    GTEST_SKIP() << "mounting a small tmpfs needs root: " << strerror(errno);
  }
  struct Unmount {
    std::string at;
    ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
  } unmount{mountPoint};
  std::string log = mountPoint + "/TORMEL.LOG";
  std::string earlier = std::string(4000, 'e') + "\n";
  WriteFile(log, earlier);
  std::ofstream filler(mountPoint + "/filler", std::ios::binary);
  std::string block(512, 'f');
  while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) && filler.flush()) {
  }
  ASSERT_NE(CLogOpen(log.c_str(), 1000, 10000), 0);
  EXPECT_NE(CLogWrite("tormel", "TormelWork()", 1, 1, 0, std::string(200, 'x').c_str(), ""), 0);
  std::string now = ReadFile(log);
  EXPECT_EQ(now.size(), earlier.size()) << "the part that fitted was not cut off: ..." << now.substr(3990);

  filler.close();
  std::filesystem::remove(mountPoint + "/filler");
  EXPECT_EQ(CLogWrite("tormel", "TormelWork()", 1, 2, 0, "room again", ""), 0);
  auto lines = TextLines(ReadFile(log));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), 4000u);
  EXPECT_EQ(lines[1].substr(0, 2), "20") << lines[1];
  EXPECT_NE(lines[1].find("code=2 "), std::string::npos) << lines[1];
}

}  // namespace
