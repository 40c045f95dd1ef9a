// Named manual-reset events shared between processes, as files in the
// runtime folder (named_objects_test.cpp has what every system shares).
#include <dirent.h>
#include <fcntl.h>
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

TEST_F(Events, ResetByAnotherProcessIsSeenAtTheNextTest) {
  OsEvent stop;
  ASSERT_EQ(OsEventCreate("StopTormelEvent", true, &stop), 0);
  ASSERT_EQ(OsEventIsSet(stop), 1);

  auto child = [] {
    OsEvent ev;
    if (OsEventOpen("StopTormelEvent", &ev) != 0) return 2;
    if (OsEventReset(ev) != 0) return 3;
    OsEventClose(&ev);
    return 0;
  };
  ASSERT_EQ(RunForked(child), 0);
  EXPECT_EQ(OsEventIsSet(stop), 0);
  OsEventClose(&stop);
}

TEST_F(Events, ConcurrentCreatorsAllSeeOneState) {
  // Creators with opposite initial states race, each holding the event until
  // all have created it; exactly one state wins and nobody ever sees an
  // event without one.
  constexpr int kChildren = 8;
  int go[2], done[2], states[2];
  ASSERT_EQ(pipe(go), 0);
  ASSERT_EQ(pipe(done), 0);
  ASSERT_EQ(pipe(states), 0);
  std::vector<pid_t> pids;
  for (int i = 0; i < kChildren; ++i) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(go[1]);
      close(done[1]);
      ReadByte(go[0]);  // all start together when the pipe is closed
      OsEvent ev;
      char state = OsEventCreate("StartTormelEvent", i % 2 == 0, &ev) != 0 ? 'e' : '0' + OsEventIsSet(ev);
      if (write(states[1], &state, 1) != 1) _exit(1);
      ReadByte(done[0]);  // holds the event until all have reported
      _exit(0);
    }
    pids.push_back(pid);
  }
  close(go[0]);
  close(go[1]);
  close(states[1]);
  std::string seen;
  char state;
  while (seen.size() < kChildren && read(states[0], &state, 1) == 1) seen += state;
  close(done[1]);
  for (pid_t pid : pids) ASSERT_NE(WaitForked(pid), -1);
  close(done[0]);
  close(states[0]);
  ASSERT_EQ(seen.size(), static_cast<size_t>(kChildren));
  EXPECT_TRUE(seen == std::string(kChildren, '0') || seen == std::string(kChildren, '1')) << seen;
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
