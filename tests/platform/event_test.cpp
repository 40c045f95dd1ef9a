// Named manual-reset events shared between processes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "os_sync.h"
#include "sync_test_util.h"

namespace {

using Events = RuntimeDirTest;

int OpenFdCount() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  while (readdir(d) != nullptr) ++n;
  closedir(d);
  return n;
}

TEST_F(Events, CreatedWithTheirInitialState) {
  OsEvent stop, start;
  ASSERT_EQ(OsEventCreate("StopTormelEvent", true, &stop), 0);
  ASSERT_EQ(OsEventCreate("StartTormelEvent", false, &start), 0);
  EXPECT_EQ(OsEventIsSet(stop), 1);
  EXPECT_EQ(OsEventIsSet(start), 0);

  ASSERT_EQ(OsEventSet(start), 0);
  ASSERT_EQ(OsEventReset(stop), 0);
  EXPECT_EQ(OsEventIsSet(stop), 0);
  EXPECT_EQ(OsEventIsSet(start), 1);
  // Setting twice leaves it set (manual reset: a test never consumes it).
  ASSERT_EQ(OsEventSet(start), 0);
  EXPECT_EQ(OsEventIsSet(start), 1);
  EXPECT_EQ(OsEventIsSet(start), 1);
  OsEventClose(&stop);
  OsEventClose(&start);
  EXPECT_EQ(stop.handle, -1);
}

TEST_F(Events, ExistingEventKeepsItsStateWhenCreatedOrOpenedAgain) {
  OsEvent missing;
  EXPECT_NE(OsEventOpen("StopTormelEvent", &missing), 0);
  EXPECT_EQ(missing.handle, -1);

  OsEvent controller;
  ASSERT_EQ(OsEventCreate("StopTormelEvent", false, &controller), 0);
  OsEvent service;
  ASSERT_EQ(OsEventCreate("StopTormelEvent", true, &service), 0);
  EXPECT_EQ(OsEventIsSet(service), 0);

  OsEvent opened;
  ASSERT_EQ(OsEventOpen("StopTormelEvent", &opened), 0);
  EXPECT_EQ(OsEventIsSet(opened), 0);
  ASSERT_EQ(OsEventSet(service), 0);
  EXPECT_EQ(OsEventIsSet(opened), 1);
  EXPECT_EQ(OsEventIsSet(controller), 1);

  OsEventClose(&controller);
  OsEventClose(&service);
  OsEventClose(&opened);
}

TEST_F(Events, ResetByAnotherProcessIsSeenAtTheNextTest) {
  OsEvent stop;
  ASSERT_EQ(OsEventCreate("StopTormelEvent", true, &stop), 0);
  ASSERT_EQ(OsEventIsSet(stop), 1);

  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    OsEvent ev;
    if (OsEventOpen("StopTormelEvent", &ev) != 0) _exit(2);
    if (OsEventReset(ev) != 0) _exit(3);
    OsEventClose(&ev);
    _exit(0);
  }
  int status = 0;
  ASSERT_TRUE(WaitChild(pid, 20000, &status));
  ASSERT_EQ(ExitCode(status), 0);
  EXPECT_EQ(OsEventIsSet(stop), 0);
  OsEventClose(&stop);
}

TEST_F(Events, ConcurrentCreatorsAllSeeOneState) {
  // Creators with opposite initial states race; exactly one state wins and
  // nobody ever sees an event without one.
  constexpr int kChildren = 8;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  std::vector<pid_t> pids;
  for (int i = 0; i < kChildren; ++i) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(ready[1]);
      ReadByte(ready[0]);  // all start together when the pipe is closed
      OsEvent ev;
      if (OsEventCreate("StartTormelEvent", i % 2 == 0, &ev) != 0) _exit(10);
      int state = OsEventIsSet(ev);
      _exit(state < 0 ? 11 : state);
    }
    pids.push_back(pid);
  }
  close(ready[0]);
  close(ready[1]);
  std::vector<int> seen;
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_TRUE(WaitChild(pid, 20000, &status));
    seen.push_back(ExitCode(status));
  }
  for (int s : seen) {
    EXPECT_TRUE(s == 0 || s == 1) << s;
    EXPECT_EQ(s, seen[0]);
  }
}

TEST_F(Events, BadNamesAreRefused) {
  OsEvent ev;
  EXPECT_NE(OsEventCreate("../escape", true, &ev), 0);
  EXPECT_NE(OsEventCreate("", true, &ev), 0);
  EXPECT_NE(OsEventCreate("..", true, &ev), 0);
  EXPECT_EQ(ev.handle, -1);
}

TEST_F(Events, HandlesAreCloseOnExecAndClosedWithoutLeaks) {
  OsEvent warm;
  ASSERT_EQ(OsEventCreate("StopTormelEvent", true, &warm), 0);  // makes the directory
  OsEventClose(&warm);
  int before = OpenFdCount();
  ASSERT_GT(before, 0);
  for (int i = 0; i < 3; ++i) {
    OsEvent stop, again;
    ASSERT_EQ(OsEventCreate("StopTormelEvent", true, &stop), 0);
    ASSERT_EQ(OsEventOpen("StopTormelEvent", &again), 0);
    EXPECT_NE(fcntl(static_cast<int>(stop.handle), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_NE(fcntl(static_cast<int>(again.handle), F_GETFD) & FD_CLOEXEC, 0);
    OsEventClose(&stop);
    OsEventClose(&again);
    OsEventClose(&again);  // closing twice is harmless
    OsMutex m;
    ASSERT_EQ(OsMutexClaim("TORMEL_MTX", &m), 0);
    EXPECT_NE(fcntl(static_cast<int>(m.handle), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_EQ(OsMutexIsHeld("TORMEL_MTX"), 1);
    OsMutexRelease(&m);
  }
  EXPECT_EQ(OpenFdCount(), before);
}

}  // namespace
