// The single-instance mutex: held for the whole run, released by the system
// however the holder ends.
#include <csignal>
#include <unistd.h>

#include "os_sync.h"
#include "sync_test_util.h"

namespace {

using Mutex = RuntimeDirTest;

TEST_F(Mutex, SecondClaimFailsUntilReleased) {
  EXPECT_EQ(OsMutexIsHeld("TORMEL_MTX"), 0);
  OsMutex first, second;
  ASSERT_EQ(OsMutexClaim("TORMEL_MTX", &first), 0);
  EXPECT_EQ(OsMutexIsHeld("TORMEL_MTX"), 1);
  EXPECT_EQ(OsMutexClaim("TORMEL_MTX", &second), OS_ALREADY_EXISTS);
  EXPECT_EQ(second.handle, -1);
  // Probing does not take the mutex away from its holder.
  EXPECT_EQ(OsMutexIsHeld("TORMEL_MTX"), 1);

  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    OsMutex m;
    int rc = OsMutexClaim("TORMEL_MTX", &m);
    _exit(rc == OS_ALREADY_EXISTS ? 0 : 1);
  }
  EXPECT_EQ(WaitForked(pid), 0);

  OsMutexRelease(&first);
  EXPECT_EQ(first.handle, -1);
  EXPECT_EQ(OsMutexIsHeld("TORMEL_MTX"), 0);
  ASSERT_EQ(OsMutexClaim("TORMEL_MTX", &second), 0);
  OsMutexRelease(&second);
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
