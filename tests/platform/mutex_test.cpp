// The single-instance mutex between processes: held for the whole run,
// released by the system however the holder ends (named_objects_test.cpp
// has what every system shares).
#include <csignal>
#include <unistd.h>

#include "os_sync.h"
#include "sync_test_util.h"

namespace {

using Mutex = RuntimeDirTest;

TEST_F(Mutex, ClaimFromAnotherProcessFailsUntilReleased) {
  OsMutex held;
  ASSERT_EQ(OsMutexClaim("TORMEL_MTX", &held), 0);
  auto claim = [] {
    OsMutex m;
    int rc = OsMutexClaim("TORMEL_MTX", &m);
    return rc == OS_ALREADY_EXISTS ? 0 : rc == 0 ? 1 : 2;
  };
  EXPECT_EQ(RunForked(claim), 0);
  OsMutexRelease(&held);
  EXPECT_EQ(RunForked(claim), 1) << "released, it is free for another process";
}

TEST_F(Mutex, KilledHolderReleasesIt) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(ready[0]);
    OsMutex m;
    if (OsMutexClaim("TORMEL_MTX", &m) != 0) _exit(1);
    if (write(ready[1], "x", 1) != 1) _exit(2);
    for (;;) pause();
  }
  close(ready[1]);
  ASSERT_TRUE(ReadByte(ready[0]));
  close(ready[0]);

  EXPECT_EQ(OsMutexIsHeld("TORMEL_MTX"), 1);
  OsMutex mine;
  EXPECT_EQ(OsMutexClaim("TORMEL_MTX", &mine), OS_ALREADY_EXISTS);

  ASSERT_EQ(kill(pid, SIGKILL), 0);
  ASSERT_EQ(WaitForked(pid), 128 + SIGKILL);

  EXPECT_EQ(OsMutexIsHeld("TORMEL_MTX"), 0);
  ASSERT_EQ(OsMutexClaim("TORMEL_MTX", &mine), 0);
  OsMutexRelease(&mine);
}

}  // namespace
