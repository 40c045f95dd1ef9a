// The termination request on POSIX: a signal whose handler resets the stop
// event in place (its state file, os_unix_sync.cpp), notes the request and
// writes a byte to the wake pipe that every wait watches (os_unix_wake.h).
#include "os_stop.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "os_unix_robust.h"
#include "os_unix_wake.h"

namespace {

// Descriptor of the event a termination request resets; -1 when none.
volatile sig_atomic_t g_stopFd = -1;
// Set by a termination request.
volatile sig_atomic_t g_stopRequested = 0;
// The pipe a termination request writes a byte to (os_unix_wake.h).
volatile sig_atomic_t g_wakeWriteFd = -1;
int g_wakeReadFd = -1;

void OnTerminationRequest(int) {
  int savedErrno = errno;
  int fd = g_stopFd;
  if (fd >= 0) {
    char reset = '0';
    ssize_t ignored = pwrite(fd, &reset, 1, 0);
    (void)ignored;
  }
  g_stopRequested = 1;
  if (g_wakeWriteFd >= 0) {
    char byte = 1;
    ssize_t ignored = write(g_wakeWriteFd, &byte, 1);
    (void)ignored;
  }
  errno = savedErrno;
}

// What operators and the system send to end a program: each is a request to
// stop, never an abrupt end. SIGHUP included: the error log is opened afresh
// for every entry, so a log rotated by somebody else needs no signal.
constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};
// Signals whose default action would end the program although nothing is
// wrong with it: stray user signals, a timer nobody set, a write to a closed
// connection, a file grown past a size limit (the write then fails instead).
constexpr int kIgnoredSignals[] = {SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE, SIGXFSZ};

}  // namespace

int OsStopOnSignals(OsEvent ev) {
  g_stopFd = static_cast<int>(ev.handle);
  if (g_wakeReadFd < 0) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return errno;
    g_wakeReadFd = ends[0];
    g_wakeWriteFd = ends[1];
  }
  struct sigaction sa{};
  sa.sa_handler = OnTerminationRequest;
  sigemptyset(&sa.sa_mask);
  for (int sig : kTerminationSignals) sigaddset(&sa.sa_mask, sig);
  sa.sa_flags = 0;  // no SA_RESTART: a blocking call is to end on the request
  for (int sig : kTerminationSignals)
    if (sigaction(sig, &sa, nullptr) != 0) return errno;
  for (int sig : kIgnoredSignals)
    if (int err = OsUnixIgnoreSignal(sig)) return err;
  return 0;
}

bool OsStopRequested() { return g_stopRequested != 0; }

bool OsStopPending() {
  if (g_stopRequested) return true;
  int fd = g_stopFd;
  char state = 0;
  if (fd < 0 || pread(fd, &state, 1, 0) != 1 || state != '0') return false;
  g_stopRequested = 1;
  return true;
}

int OsUnixStopWakeFd() { return g_wakeReadFd; }

void OsUnixStopEventClosing(int fd) {
  // The signal handler must never write to a descriptor number that a later
  // open may have reused.
  if (g_stopFd == fd) g_stopFd = -1;
}

void OsIgnoreBrokenPipe() { OsUnixIgnoreSignal(SIGPIPE); }
