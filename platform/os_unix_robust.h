// Between the POSIX platform files only: system calls that a signal may
// interrupt (EINTR), made again until they are not. The termination
// request's handler is installed without SA_RESTART so that a wait ends on
// it; calls that do not wait for the request are simply repeated. A wait
// that must end on the request (poll on a socket, a sleep) looks at
// OsStopRequested instead and is not made here. And the one way signals
// are ignored.
#pragma once
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

// Repeats call() while it fails with EINTR; its last result (negative with
// errno on failure).
template <typename Call>
auto OsUnixRetry(Call call) {
  decltype(call()) r;
  do {
    r = call();
  } while (r < 0 && errno == EINTR);
  return r;
}

// open, close-on-exec: the descriptor, or -1 with errno.
inline int OsUnixOpen(const char* path, int flags, mode_t mode = 0) {
  return OsUnixRetry([&] { return open(path, flags | O_CLOEXEC, mode); });
}

// 0 or errno. After close the descriptor is gone even when close reports
// EINTR, so it is never closed again.
inline int OsUnixClose(int fd) { return close(fd) == 0 || errno == EINTR ? 0 : errno; }

// flock: 0 or errno.
inline int OsUnixFlock(int fd, int operation) {
  return OsUnixRetry([&] { return flock(fd, operation); }) == 0 ? 0 : errno;
}

// Ignores the signal sig from now on: 0 or errno.
inline int OsUnixIgnoreSignal(int sig) {
  struct sigaction sa{};
  sa.sa_handler = SIG_IGN;
  sigemptyset(&sa.sa_mask);
  return sigaction(sig, &sa, nullptr) == 0 ? 0 : errno;
}

// Writes all n bytes: at offset, or (offset < 0) where the descriptor's
// position or O_APPEND puts them. 0 or errno, a write that takes nothing
// counting as EIO; *done (when given) tells how many bytes went.
inline int OsUnixWriteAll(int fd, const void* buf, size_t n, int64_t offset, size_t* done = nullptr) {
  const char* p = static_cast<const char*>(buf);
  size_t written = 0;
  int err = 0;
  while (written < n) {
    ssize_t r = OsUnixRetry([&] {
      return offset < 0 ? write(fd, p + written, n - written)
                        : pwrite(fd, p + written, n - written, static_cast<off_t>(offset + static_cast<int64_t>(written)));
    });
    if (r <= 0) {
      err = r < 0 ? errno : EIO;
      break;
    }
    written += static_cast<size_t>(r);
  }
  if (done != nullptr) *done = written;
  return err;
}
