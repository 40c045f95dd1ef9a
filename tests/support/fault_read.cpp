// Loaded into a program under test with LD_PRELOAD: every positioned read
// of a file whose name is $TORMEL_FAULT_READ fails with EIO, as a failing
// disk would make it. Everything else reads as usual.
//
// With $TORMEL_HOLD_PROC_SEARCH set to a path, the program's first look
// through /proc (the search for other processes that hold a file open)
// creates PATH.searching and waits there until PATH.go exists, so that a
// test can act while the program is in the middle of its question.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

bool Exists(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0;
}

// Holds the first search through /proc until the test says go (at most 10 s).
void HoldFirstProcSearch() {
  static bool held = false;
  const char* base = getenv("TORMEL_HOLD_PROC_SEARCH");
  if (held || base == nullptr || *base == '\0') return;
  held = true;
  std::string marker = std::string(base) + ".searching";
  int fd = open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) close(fd);
  const std::string go = std::string(base) + ".go";
  for (int i = 0; i < 1000 && !Exists(go); ++i) {
    timespec pause{0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
}

}  // namespace

extern "C" DIR* opendir(const char* name) {
  using OpendirFn = DIR* (*)(const char*);
  static OpendirFn real = reinterpret_cast<OpendirFn>(dlsym(RTLD_NEXT, "opendir"));
  if (strcmp(name, "/proc") == 0) HoldFirstProcSearch();
  return real(name);
}

extern "C" ssize_t pread(int fd, void* buf, size_t n, off_t offset) {
  static PreadFn real = reinterpret_cast<PreadFn>(dlsym(RTLD_NEXT, "pread"));
  return Read(real, fd, buf, n, offset);
}

extern "C" ssize_t pread64(int fd, void* buf, size_t n, off_t offset) {
  static PreadFn real = reinterpret_cast<PreadFn>(dlsym(RTLD_NEXT, "pread64"));
  return Read(real, fd, buf, n, offset);
}
