// The power-cut file system itself, on a real mount: what survives a cut is
// what was synced, data and names alike; in between it behaves as a disk
// does for the calls the service and its producers make.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "powercut_fixture.h"

namespace {

using Disk = PowerCutTest;

int Open(const std::string& path, int flags) { return open(path.c_str(), flags | O_CLOEXEC, 0644); }

bool Put(int fd, const std::string& text) { return write(fd, text.data(), text.size()) == ssize_t(text.size()); }

int SyncFolder(const std::string& path) {
  int fd = Open(path, O_RDONLY | O_DIRECTORY);
  int rc = fd >= 0 && fsync(fd) == 0 ? 0 : errno;
  if (fd >= 0) close(fd);
  return rc;
}

// A file with the text, its data synced; its name is not.
void SyncedFile(const std::string& path, const std::string& text) {
  int fd = Open(path, O_WRONLY | O_CREAT | O_EXCL);
  ASSERT_GE(fd, 0) << path;
  EXPECT_TRUE(Put(fd, text));
  EXPECT_EQ(fdatasync(fd), 0);
  close(fd);
}

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

TEST_F(Disk, DataSurvivesACutAsOfItsLastSyncAndOldHandlesFail) {
  SyncedFile(disk->Path("data"), "synced ");
  int keptOpen = Open(disk->Path("data"), O_WRONLY | O_APPEND);
  ASSERT_TRUE(Put(keptOpen, "then more"));
  int fd = Open(disk->Path("never"), O_WRONLY | O_CREAT | O_EXCL);
  ASSERT_TRUE(Put(fd, "never synced"));
  close(fd);
  ASSERT_EQ(SyncFolder(disk->path), 0);
  EXPECT_EQ(ReadFile(disk->Path("data")), "synced then more");

  ASSERT_TRUE(disk->Cut());
  EXPECT_EQ(ReadFile(disk->Path("data")), "synced ");
  EXPECT_TRUE(FileExists(disk->Path("never")));
  EXPECT_EQ(ReadFile(disk->Path("never")), "");
  // A handle from before the cut is no way around it.
  EXPECT_EQ(write(keptOpen, "x", 1), -1);
  EXPECT_EQ(errno, EIO);
  close(keptOpen);
  fd = Open(disk->Path("data"), O_WRONLY | O_APPEND);
  EXPECT_TRUE(Put(fd, "after"));
  close(fd);
  EXPECT_EQ(ReadFile(disk->Path("data")), "synced after");
}

TEST_F(Disk, ANewNameSurvivesOnlyOnceItsFolderIsSynced) {
  SyncedFile(disk->Path("unnamed"), "its data synced, its name not");
  ASSERT_TRUE(disk->Cut());
  EXPECT_EQ(Names(disk->path), std::set<std::string>{});

  SyncedFile(disk->Path("named"), "both synced");
  ASSERT_EQ(SyncFolder(disk->path), 0);
  // A new folder's own entries need the folder's name in its parent too.
  ASSERT_EQ(mkdir(disk->Path("sub").c_str(), 0755), 0);
  SyncedFile(disk->Path("sub/inner"), "inner");
  ASSERT_EQ(SyncFolder(disk->Path("sub")), 0);
  ASSERT_TRUE(disk->Cut());
  EXPECT_EQ(Names(disk->path), std::set<std::string>{"named"});
  EXPECT_EQ(ReadFile(disk->Path("named")), "both synced");
}

TEST_F(Disk, RenamesAndRemovalsAreUndoneWithoutAFolderSync) {
  SyncedFile(disk->Path("a"), "A");
  SyncedFile(disk->Path("b"), "B");
  ASSERT_EQ(SyncFolder(disk->path), 0);
  ASSERT_EQ(rename(disk->Path("a").c_str(), disk->Path("a2").c_str()), 0);
  ASSERT_EQ(unlink(disk->Path("b").c_str()), 0);
  ASSERT_TRUE(disk->Cut());
  EXPECT_EQ(Names(disk->path), (std::set<std::string>{"a", "b"}));
  EXPECT_EQ(ReadFile(disk->Path("b")), "B");

  ASSERT_EQ(rename(disk->Path("a").c_str(), disk->Path("a2").c_str()), 0);
  ASSERT_EQ(unlink(disk->Path("b").c_str()), 0);
  ASSERT_EQ(SyncFolder(disk->path), 0);
  ASSERT_TRUE(disk->Cut());
  EXPECT_EQ(Names(disk->path), std::set<std::string>{"a2"});
  EXPECT_EQ(ReadFile(disk->Path("a2")), "A");
}

TEST_F(Disk, SyncsFailWithTheFaultSwitchedOn) {
  int fd = Open(disk->Path("f"), O_WRONLY | O_CREAT | O_EXCL);
  ASSERT_TRUE(Put(fd, "x"));
  ASSERT_TRUE(disk->FailSyncs(true));
  EXPECT_EQ(fdatasync(fd), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(fsync(fd), -1);
  EXPECT_EQ(SyncFolder(disk->path), EIO);
  ASSERT_TRUE(disk->FailSyncs(false));
  EXPECT_EQ(fsync(fd), 0);
  EXPECT_EQ(SyncFolder(disk->path), 0);
  close(fd);
  EXPECT_FALSE(disk->Command("no such command"));
}

// What the service and the producers ask of a file system, short of a cut.
TEST_F(Disk, ServesTheCallsOfTheServiceAndItsProducers) {
  const std::string f = disk->Path("f"), g = disk->Path("g");
  int fd = Open(f, O_RDWR | O_CREAT | O_EXCL);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Open(f, O_RDWR | O_CREAT | O_EXCL), -1);
  EXPECT_EQ(errno, EEXIST);
  ASSERT_EQ(pwrite(fd, "$ pending", 9, 0), 9);
  ASSERT_EQ(pwrite(fd, "*", 1, 0), 1);
  char buf[16] = {};
  EXPECT_EQ(pread(fd, buf, sizeof buf, 0), 9);
  EXPECT_STREQ(buf, "* pending");
  ASSERT_EQ(ftruncate(fd, 4), 0);
  struct stat st{};
  ASSERT_EQ(fstat(fd, &st), 0);
  EXPECT_EQ(st.st_size, 4);
  ASSERT_EQ(fchmod(fd, 0660), 0);
  ASSERT_EQ(fstat(fd, &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0660u);

  // flock is kept by the kernel for every process alike.
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  pid_t child = fork();
  if (child == 0) {
    int other = Open(f, O_RDONLY);
    _exit(flock(other, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK ? 0 : 1);
  }
  int status = -1;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0) << "another process got the lock";

  ASSERT_EQ(link(f.c_str(), g.c_str()), 0);
  ASSERT_EQ(fstat(fd, &st), 0);
  EXPECT_EQ(st.st_nlink, 2u);
  EXPECT_EQ(renameat2(AT_FDCWD, f.c_str(), AT_FDCWD, g.c_str(), RENAME_NOREPLACE), -1);
  EXPECT_EQ(errno, EEXIST);
  ASSERT_EQ(unlink(g.c_str()), 0);
  ASSERT_EQ(renameat2(AT_FDCWD, f.c_str(), AT_FDCWD, g.c_str(), RENAME_NOREPLACE), 0);
  EXPECT_EQ(Names(disk->path), std::set<std::string>{"g"});
  EXPECT_EQ(pread(fd, buf, sizeof buf, 0), 4) << "the open file follows its rename";
  EXPECT_EQ(symlink("g", disk->Path("link").c_str()), -1);
  close(fd);

  // Appends of whole lines from several writers at once never interleave.
  constexpr int kWriters = 4, kLines = 200;
  auto line = [](int w, int i) { return "writer " + std::to_string(w) + " line " + std::to_string(i) + std::string(80, '.'); };
  std::set<std::string> expected;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kLines; ++i) expected.insert(line(w, i));
    writers.emplace_back([&, w] {
      int out = Open(disk->Path("appended"), O_WRONLY | O_APPEND | O_CREAT);
      for (int i = 0; i < kLines; ++i) EXPECT_TRUE(Put(out, line(w, i) + "\n"));
      close(out);
    });
  }
  for (auto& t : writers) t.join();
  std::vector<std::string> lines = TextLines(ReadFile(disk->Path("appended")));
  EXPECT_EQ(lines.size(), expected.size());
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), expected);
}

}  // namespace
