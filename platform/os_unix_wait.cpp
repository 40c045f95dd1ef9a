// The one wait on POSIX: poll over the sockets, the watch's descriptor and
// the pipe a termination request writes to.
#include "os_wait.h"

#include <poll.h>

#include <cerrno>

#include "os_common.h"
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
  return OsCommonWaitInSlices(OsMonotonicMs() + timeoutMs, [&](uint32_t ms) {
    int r = poll(p, count + 2, static_cast<int>(ms));
    if (r < 0) return errno == EINTR ? OS_NET_NOT_NOW : errno;
    if (r == 0) return OS_NET_TIMEOUT;
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
    return ready || *watchReady ? 0 : OS_NET_NOT_NOW;
  });
}
