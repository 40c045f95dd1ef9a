// Loaded into a program under test with LD_PRELOAD: every positioned read
// of a file whose name is $TORMEL_FAULT_READ fails with EIO, as a failing
// disk would make it. Everything else reads as usual.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using PreadFn = ssize_t (*)(int, void*, size_t, off_t);

bool Faulty(int fd) {
  const char* name = getenv("TORMEL_FAULT_READ");
  if (name == nullptr || *name == '\0') return false;
  char link[64], target[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, target, sizeof target - 1);
  if (n <= 0) return false;
  target[n] = '\0';
  const char* slash = strrchr(target, '/');
  return strcmp(slash ? slash + 1 : target, name) == 0;
}

ssize_t Read(PreadFn real, int fd, void* buf, size_t n, off_t offset) {
  if (Faulty(fd)) {
    errno = EIO;
    return -1;
  }
  return real(fd, buf, n, offset);
}

}  // namespace

extern "C" ssize_t pread(int fd, void* buf, size_t n, off_t offset) {
  static PreadFn real = reinterpret_cast<PreadFn>(dlsym(RTLD_NEXT, "pread"));
  return Read(real, fd, buf, n, offset);
}

extern "C" ssize_t pread64(int fd, void* buf, size_t n, off_t offset) {
  static PreadFn real = reinterpret_cast<PreadFn>(dlsym(RTLD_NEXT, "pread64"));
  return Read(real, fd, buf, n, offset);
}
