#include "sync_test_util.h"

#include <cerrno>
#include <unistd.h>

int RunForked(const std::function<int()>& body, std::chrono::milliseconds deadline) {
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) _exit(body());
  return WaitForked(pid, deadline);
}

bool ReadByte(int fd) {
  char c;
  ssize_t r;
  do {
    r = read(fd, &c, 1);
  } while (r < 0 && errno == EINTR);
  return r == 1;
}
