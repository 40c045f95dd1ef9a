// The console on POSIX: the controlling terminal, or standard input when that
// is a terminal. Every call leaves the terminal settings as it found them, so
// that an interrupted listing never leaves a shell without echo.
#include "os_console.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A descriptor of the terminal and whether it must be closed after use;
// -1 when the process has none.
int OsConsoleOpen(bool* owned) {
  int fd;
  do {
    fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    *owned = true;
    return fd;
  }
  *owned = false;
  return isatty(STDIN_FILENO) ? STDIN_FILENO : -1;
}

void OsConsoleDone(int fd, bool owned) {
  if (owned) close(fd);
}

// Switches to non-canonical input without echo, so that a single key is
// readable at once and does not appear on the screen.
bool OsConsoleRaw(int fd, termios* saved) {
  if (tcgetattr(fd, saved) != 0) return false;
  termios raw = *saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &raw) == 0;
}

void OsConsoleRestore(int fd, const termios* saved) { tcsetattr(fd, TCSANOW, saved); }

}  // namespace

bool OsConsoleAvailable() {
  bool owned;
  int fd = OsConsoleOpen(&owned);
  if (fd < 0) return false;
  OsConsoleDone(fd, owned);
  return true;
}

bool OsConsoleKeyPending() {
  bool owned;
  int fd = OsConsoleOpen(&owned);
  if (fd < 0) return false;
  termios saved;
  bool raw = OsConsoleRaw(fd, &saved);
  pollfd p{fd, POLLIN, 0};
  int r;
  do {
    r = poll(&p, 1, 0);
  } while (r < 0 && errno == EINTR);
  if (raw) OsConsoleRestore(fd, &saved);
  OsConsoleDone(fd, owned);
  // A hung-up terminal counts as pending, so that a waiting caller goes on to
  // the read, which then reports that there is nothing.
  return r > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

int OsConsoleReadKey() {
  bool owned;
  int fd = OsConsoleOpen(&owned);
  if (fd < 0) return -1;
  termios saved;
  bool raw = OsConsoleRaw(fd, &saved);
  unsigned char key = 0;
  ssize_t n;
  do {
    n = read(fd, &key, 1);
  } while (n < 0 && errno == EINTR);
  if (raw) OsConsoleRestore(fd, &saved);
  OsConsoleDone(fd, owned);
  return n == 1 ? key : -1;
}
