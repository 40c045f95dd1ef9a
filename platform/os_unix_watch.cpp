// Watching a folder on Linux: inotify, one descriptor for as long as the
// watch lives, its events read into the watch's own buffer.
#include "os_watch.h"

#include <cerrno>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "os_unix_remote.h"
#include "os_unix_robust.h"

namespace {

// A change made on another machine is never told here.
bool NetworkFileSystem(const char* folder) {
  struct statfs fs{};
  return statfs(folder, &fs) == 0 && OsUnixRemoteFileSystem(fs);
}

constexpr uint32_t kChanges = IN_CREATE | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE;
constexpr uint32_t kGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT;

}  // namespace

int OsWatchOpen(const char* folder, OsWatch* w) {
  if (NetworkFileSystem(folder)) return EOPNOTSUPP;
  int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return errno;
  if (inotify_add_watch(fd, folder, kChanges | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR) < 0) {
    int err = errno;
    OsUnixClose(fd);
    return err;
  }
  w->handle = fd;
  return 0;
}

void OsWatchClose(OsWatch* w) {
  if (w->handle < 0) return;
  OsUnixClose(static_cast<int>(w->handle));
  w->handle = -1;
}

OsWatchNews OsWatchRead(OsWatch* w, bool (*relevant)(const char*, void*), void* context) {
  OsWatchNews news = OsWatchNews::None;
  for (;;) {
    ssize_t n = read(static_cast<int>(w->handle), w->events, sizeof w->events);
    if (n <= 0) return news;
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(w->events + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      if (e->mask & kGone) return OsWatchNews::Lost;
      if (e->mask & IN_Q_OVERFLOW) news = OsWatchNews::Changed;  // some change was dropped: it may count
      if ((e->mask & kChanges) && e->len > 0 && relevant(e->name, context)) news = OsWatchNews::Changed;
    }
  }
}
