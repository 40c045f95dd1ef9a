// The runtime directory must be private to the user running the service;
// anything another user could write or redirect is refused.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "os_sync.h"
#include "sync_test_util.h"

namespace {

using RuntimeDir = RuntimeDirTest;

TEST_F(RuntimeDir, MissingDirectoryIsCreatedPrivate) {
  OsMutex m;
  ASSERT_EQ(OsMutexClaim("TORMEL_MTX", &m), 0);
  struct stat st{};
  ASSERT_EQ(lstat(runtime_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(lstat((runtime_ + "/TORMEL_MTX").c_str(), &st), 0) << "the object lives there";

  // A second object accepts what the first made.
  OsEvent ev;
  EXPECT_EQ(OsEventCreate("StopTormelEvent", true, &ev), 0);
  OsEventClose(&ev);
  OsMutexRelease(&m);
}

TEST_F(RuntimeDir, WritableByGroupOrOthersIsRefused) {
  ASSERT_EQ(mkdir(runtime_.c_str(), 0700), 0);
  for (mode_t mode : {0770, 0702, 0777}) {
    ASSERT_EQ(chmod(runtime_.c_str(), mode), 0);
    OsEvent ev;
    EXPECT_NE(OsEventCreate("StopTormelEvent", true, &ev), 0) << std::oct << mode;
    OsMutex m;
    EXPECT_NE(OsMutexClaim("TORMEL_MTX", &m), 0) << std::oct << mode;
  }
  // Readable by others is harmless.
  ASSERT_EQ(chmod(runtime_.c_str(), 0755), 0);
  OsEvent ev;
  EXPECT_EQ(OsEventCreate("StopTormelEvent", true, &ev), 0);
  OsEventClose(&ev);
}

TEST_F(RuntimeDir, SymlinkIsRefused) {
  std::string real = base_ + "/real";
  ASSERT_EQ(mkdir(real.c_str(), 0700), 0);
  ASSERT_EQ(symlink(real.c_str(), runtime_.c_str()), 0);
  OsEvent ev;
  EXPECT_NE(OsEventCreate("StopTormelEvent", true, &ev), 0);
}

TEST_F(RuntimeDir, OwnedByAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the directory away";
  ASSERT_EQ(mkdir(runtime_.c_str(), 0700), 0);
  ASSERT_EQ(chown(runtime_.c_str(), 65534, 65534), 0);
  OsEvent ev;
  EXPECT_NE(OsEventCreate("StopTormelEvent", true, &ev), 0);
}

}  // namespace
