// The console on POSIX: the controlling terminal, or standard input when that
// is a terminal. Every call, and every key wait as a whole, leaves the
// terminal settings as it found them, so that an interrupted listing never
// leaves a shell without echo.
#include "os_console.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "os_unix_robust.h"

namespace {

// A descriptor of the terminal and whether it must be closed after use;
// -1 when the process has none.
int OpenConsole(bool* owned) {
  int fd = OsUnixOpen("/dev/tty", O_RDWR | O_NOCTTY);
  if (fd >= 0) {
    *owned = true;
    return fd;
  }
  *owned = false;
  return isatty(STDIN_FILENO) ? STDIN_FILENO : -1;
}

// Switches to non-canonical input without echo, so that a single key is
// readable at once and does not appear on the screen.
bool MakeRaw(int fd, termios* saved) {
  if (tcgetattr(fd, saved) != 0) return false;
  termios raw = *saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &raw) == 0;
}

// The key wait in progress: the terminal held without echo, and how to
// give it back.
struct KeyWait {
  int fd = -1;
  bool owned = false;
  bool raw = false;
  termios saved{};
};
KeyWait g_wait;
volatile sig_atomic_t g_waitRawFd = -1;  // what a signal must restore; -1 when nothing

// The signals that end a program at a terminal.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction g_earlier[sizeof kEndingSignals / sizeof kEndingSignals[0]];

// Gives the terminal back, then lets the signal do what it did before the
// wait (the program's own handler, or the end of the process).
void RestoreOnSignal(int sig) {
  int savedErrno = errno;
  int fd = g_waitRawFd;
  if (fd >= 0) tcsetattr(fd, TCSANOW, &g_wait.saved);
  g_waitRawFd = -1;
  for (size_t i = 0; i < sizeof kEndingSignals / sizeof kEndingSignals[0]; ++i)
    if (kEndingSignals[i] == sig) sigaction(sig, &g_earlier[i], nullptr);
  raise(sig);
  errno = savedErrno;
}

}  // namespace

bool OsConsoleKeyWaitBegin() {
  if (g_wait.fd >= 0) return true;
  g_wait.fd = OpenConsole(&g_wait.owned);
  if (g_wait.fd < 0) return false;
  struct sigaction sa{};
  sa.sa_handler = RestoreOnSignal;
  sigemptyset(&sa.sa_mask);
  for (size_t i = 0; i < sizeof kEndingSignals / sizeof kEndingSignals[0]; ++i)
    sigaction(kEndingSignals[i], &sa, &g_earlier[i]);
  g_wait.raw = MakeRaw(g_wait.fd, &g_wait.saved);
  if (g_wait.raw) g_waitRawFd = g_wait.fd;
  return true;
}

void OsConsoleKeyWaitEnd() {
  if (g_wait.fd < 0) return;
  g_waitRawFd = -1;
  if (g_wait.raw) tcsetattr(g_wait.fd, TCSANOW, &g_wait.saved);
  // A handler that already ran has put its signal's earlier action back.
  for (size_t i = 0; i < sizeof kEndingSignals / sizeof kEndingSignals[0]; ++i) {
    struct sigaction current{};
    if (sigaction(kEndingSignals[i], nullptr, &current) == 0 && current.sa_handler == RestoreOnSignal)
      sigaction(kEndingSignals[i], &g_earlier[i], nullptr);
  }
  if (g_wait.owned) OsUnixClose(g_wait.fd);
  g_wait = KeyWait{};
}

bool OsConsoleKeyPending() {
  bool owned = false;
  int fd = g_wait.fd >= 0 ? g_wait.fd : OpenConsole(&owned);
  if (fd < 0) return false;
  termios saved;
  bool raw = g_wait.fd < 0 && MakeRaw(fd, &saved);
  pollfd p{fd, POLLIN, 0};
  int r = OsUnixRetry([&] { return poll(&p, 1, 0); });
  if (raw) tcsetattr(fd, TCSANOW, &saved);
  if (owned) OsUnixClose(fd);
  // A hung-up terminal counts as pending, so that a waiting caller goes on to
  // the read, which then reports that there is nothing.
  return r > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

int OsConsoleReadKey() {
  bool owned = false;
  int fd = g_wait.fd >= 0 ? g_wait.fd : OpenConsole(&owned);
  if (fd < 0) return -1;
  termios saved;
  bool raw = g_wait.fd < 0 && MakeRaw(fd, &saved);
  unsigned char key = 0;
  ssize_t n = OsUnixRetry([&] { return read(fd, &key, 1); });
  if (raw) tcsetattr(fd, TCSANOW, &saved);
  if (owned) OsUnixClose(fd);
  return n == 1 ? key : -1;
}
