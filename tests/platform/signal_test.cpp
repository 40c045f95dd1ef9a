// Termination requests reset the stop event and cut a running sleep short;
// each case runs in its own child process, since handlers are process-wide.
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "os_stop.h"
#include "os_sync.h"
#include "os_time.h"
#include "sync_test_util.h"

namespace {

using namespace std::chrono_literals;

// In a child: the stop event, created and handed to the termination
// handlers; 0, or the status the child is to end with.
int StopOnSignals(OsEvent* stop) {
  if (OsEventCreate("StopTormelEvent", true, stop) != 0) return 2;
  if (OsStopOnSignals(*stop) != 0) return 3;
  return 0;
}

class Signals : public RuntimeDirTest {
 protected:
  // Child: stop event set, handlers installed, reports ready, sleeps 60 s.
  // Exits 0 when the sleep ended with the event reset.
  pid_t StartSleeper(int* readyFd) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
      close(ready[0]);
      OsEvent stop;
      if (int failed = StopOnSignals(&stop)) _exit(failed);
      if (OsEventSet(stop) != 0) _exit(2);  // an earlier round left it reset
      if (write(ready[1], "x", 1) != 1) _exit(4);
      OsSleepMs(60000);
      _exit(OsEventIsSet(stop) == 0 && OsStopRequested() ? 0 : 5);
    }
    close(ready[1]);
    *readyFd = ready[0];
    return pid;
  }

  // The signals that would end the program for nothing go first: pending
  // before the stop, any of them that was not ignored would end the child
  // with its own status.
  void ExpectStoppedBy(int sig) {
    OsEvent stop;  // held here, so that it outlives the child
    ASSERT_EQ(OsEventCreate("StopTormelEvent", true, &stop), 0);
    int readyFd = -1;
    pid_t pid = StartSleeper(&readyFd);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(ReadByte(readyFd));
    close(readyFd);
    for (int stray : {SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE, SIGXFSZ}) ASSERT_EQ(kill(pid, stray), 0);
    ASSERT_EQ(kill(pid, sig), 0);
    // Far below the 60 s sleep: only an early end gets here in time.
    int status = WaitForked(pid, 30s);
    ASSERT_NE(status, -1) << "the sleep was not cut short";
    EXPECT_EQ(status, 0) << "128 + the signal that ended it, or the child's own status";
    EXPECT_EQ(OsEventIsSet(stop), 0);
    OsEventClose(&stop);
  }
};

TEST_F(Signals, TerminationSignalsResetStopEventAndEndSleepAndStraySignalsAreIgnored) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(sig);
    ExpectStoppedBy(sig);
  }
}

TEST_F(Signals, RequestBeforeTheSleepIsNotSleptThrough) {
  auto child = [] {
    OsEvent stop;
    if (int failed = StopOnSignals(&stop)) return failed;
    raise(SIGTERM);
    OsSleepMs(60000);
    OsSleepMs(60000);
    return OsEventIsSet(stop) == 0 ? 0 : 5;
  };
  EXPECT_EQ(RunForked(child, 30s), 0);
}

TEST_F(Signals, SignalAfterTheEventIsClosedTouchesNoOtherFile) {
  // Once the event is closed its descriptor number may be reused; a late
  // request must not write into whatever now has that number.
  const std::string path = base_ + "/other";
  auto child = [&] {
    OsEvent stop;
    if (int failed = StopOnSignals(&stop)) return failed;
    int number = static_cast<int>(stop.handle);
    OsEventClose(&stop);
    int other = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (other < 0) return 4;
    if (other != number) return 0;  // not reused: nothing to see
    raise(SIGTERM);
    struct stat st{};
    if (fstat(other, &st) != 0) return 5;
    return st.st_size == 0 ? 0 : 6;
  };
  EXPECT_EQ(RunForked(child, 30s), 0);
}

TEST_F(Signals, BrokenPipeIsAnErrorNotADeath) {
  auto child = [] {
    OsIgnoreBrokenPipe();
    int p[2];
    if (pipe(p) != 0) return 2;
    close(p[0]);
    ssize_t r = write(p[1], "x", 1);
    return r < 0 && errno == EPIPE ? 0 : 3;
  };
  EXPECT_EQ(RunForked(child, 30s), 0);
}

}  // namespace
