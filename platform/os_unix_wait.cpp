// The one wait on POSIX: poll over the sockets, the watch's descriptor and
// the pipe a termination request writes to.
#include "os_wait.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

#include "os_sync.h"
#include "os_time.h"
#include "os_unix_wake.h"

int OsWaitAny(OsWaitSocket* sockets, size_t count, OsWatch* watch, uint32_t timeoutMs, bool* watchReady) {
  *watchReady = false;
  if (count > OS_WAIT_MAX_SOCKETS) return EINVAL;
  pollfd p[OS_WAIT_MAX_SOCKETS + 2];
  for (size_t i = 0; i < count; ++i) {
    sockets[i].readable = sockets[i].writable = false;
    short events = static_cast<short>((sockets[i].wantRead ? POLLIN : 0) | (sockets[i].wantWrite ? POLLOUT : 0));
    p[i] = pollfd{events != 0 ? static_cast<int>(sockets[i].socket.handle) : -1, events, 0};
  }
  const nfds_t watchAt = count, wakeAt = count + 1;
  p[watchAt] = pollfd{watch != nullptr ? static_cast<int>(watch->handle) : -1, POLLIN, 0};
  p[wakeAt] = pollfd{OsUnixStopWakeFd(), POLLIN, 0};
  if (OsStopRequested()) return OS_NET_STOPPED;
  const uint64_t deadline = OsMonotonicMs() + timeoutMs;
  for (;;) {
    uint64_t now = OsMonotonicMs();
    int left = now >= deadline ? 0 : static_cast<int>(deadline - now);
    int r = poll(p, count + 2, std::min(left, static_cast<int>(OS_STOP_SLICE_MS)));
    if (r < 0 && errno != EINTR) return errno;
    if (r > 0) {
      // The pipe stays readable once a request has come.
      if (p[wakeAt].revents != 0) return OS_NET_STOPPED;
      bool ready = false;
      for (size_t i = 0; i < count; ++i) {
        short got = p[i].revents;
        if (got == 0) continue;
        // A failure or hang-up shows in the call that follows.
        sockets[i].readable = sockets[i].wantRead && (got & (POLLIN | POLLHUP | POLLERR)) != 0;
        sockets[i].writable = sockets[i].wantWrite && (got & (POLLOUT | POLLHUP | POLLERR)) != 0;
        ready = ready || sockets[i].readable || sockets[i].writable;
      }
      *watchReady = p[watchAt].revents != 0;
      if (ready || *watchReady) return 0;
    }
    if (OsStopPending()) return OS_NET_STOPPED;
    if (left == 0) return OS_NET_TIMEOUT;
  }
}
