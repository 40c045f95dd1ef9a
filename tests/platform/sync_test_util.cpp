#include "sync_test_util.h"

#include <cerrno>
#include <unistd.h>

void RuntimeDirTest::SetUp() { TestSetEnv("TORMEL_RUNTIME_DIR", runtime_); }

void RuntimeDirTest::TearDown() { TestUnsetEnv("TORMEL_RUNTIME_DIR"); }

bool ReadByte(int fd) {
  char c;
  ssize_t r;
  do {
    r = read(fd, &c, 1);
  } while (r < 0 && errno == EINTR);
  return r == 1;
}
