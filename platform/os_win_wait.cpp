// The one wait on Windows. Every connection of OsTcpConnectStart signals one
// shared event when something happens on it (WSAEventSelect), so that the
// sockets, the watch and the termination request are waited on together
// in one WaitForMultipleObjects, however many sockets there are. Which
// socket is ready is then asked of WSAPoll without waiting. The event is
// reset before that question, so nothing that happens after it is missed;
// the wait still ends at least every slice, in case the system told
// nothing of a change (a connection failure that WSAPoll does not report,
// say), and asks again.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>

#include "os_sync.h"
#include "os_time.h"
#include "os_wait.h"
#include "os_win_wake.h"

namespace {

SOCKET Sock(OsSocket s) { return static_cast<SOCKET>(s.handle); }

// Whether a connection that is being made has failed: WSAPoll leaves that
// unsaid on some systems.
bool ConnectFailed(SOCKET s) {
  int err = 0;
  int len = sizeof err;
  return getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) == 0 && err != 0;
}

// Asks without waiting which sockets are ready; -1 on failure.
int Poll(OsWaitSocket* sockets, size_t count) {
  WSAPOLLFD p[OS_WAIT_MAX_SOCKETS];
  for (size_t i = 0; i < count; ++i) {
    p[i] = WSAPOLLFD{};
    p[i].fd = sockets[i].wantRead || sockets[i].wantWrite ? Sock(sockets[i].socket) : INVALID_SOCKET;
    p[i].events = static_cast<short>((sockets[i].wantRead ? POLLRDNORM : 0) | (sockets[i].wantWrite ? POLLWRNORM : 0));
  }
  if (count > 0 && WSAPoll(p, static_cast<ULONG>(count), 0) < 0) return -1;
  int ready = 0;
  for (size_t i = 0; i < count; ++i) {
    short got = p[i].revents;
    bool failed = (got & (POLLHUP | POLLERR)) != 0;
    sockets[i].readable = sockets[i].wantRead && ((got & POLLRDNORM) != 0 || failed);
    sockets[i].writable = sockets[i].wantWrite && ((got & POLLWRNORM) != 0 || failed);
    if (sockets[i].wantWrite && !sockets[i].writable && ConnectFailed(Sock(sockets[i].socket)))
      sockets[i].writable = true;
    if (sockets[i].readable || sockets[i].writable) ++ready;
  }
  return ready;
}

}  // namespace

HANDLE OsWinNetEvent() {
  static HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return event;
}

int OsWaitAny(OsWaitSocket* sockets, size_t count, OsWatch* watch, uint32_t timeoutMs, bool* watchReady) {
  *watchReady = false;
  if (count > OS_WAIT_MAX_SOCKETS) return WSAEINVAL;
  for (size_t i = 0; i < count; ++i) sockets[i].readable = sockets[i].writable = false;
  if (OsStopRequested()) return OS_NET_STOPPED;
  HANDLE net = OsWinNetEvent();
  HANDLE waits[3];
  DWORD n = 0;
  if (count > 0) waits[n++] = net;
  HANDLE watchEvent = watch != nullptr ? OsWinWatchEvent(watch) : nullptr;
  if (watchEvent != nullptr) waits[n++] = watchEvent;
  HANDLE stop = OsWinStopWakeEvent();
  if (stop != nullptr) waits[n++] = stop;
  const uint64_t deadline = OsMonotonicMs() + timeoutMs;
  for (;;) {
    if (count > 0) ResetEvent(net);
    int ready = Poll(sockets, count);
    if (ready < 0) return WSAGetLastError();
    *watchReady = watchEvent != nullptr && WaitForSingleObject(watchEvent, 0) == WAIT_OBJECT_0;
    if (ready > 0 || *watchReady) return 0;
    uint64_t now = OsMonotonicMs();
    DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    DWORD slice = std::min<DWORD>(left, OS_STOP_SLICE_MS);
    DWORD r = n > 0 ? WaitForMultipleObjects(n, waits, FALSE, slice) : (Sleep(slice), WAIT_TIMEOUT);
    if (stop != nullptr && r == WAIT_OBJECT_0 + n - 1) return OS_NET_STOPPED;
    if (r == WAIT_FAILED) return static_cast<int>(GetLastError());
    if (OsStopPending()) return OS_NET_STOPPED;
    if (r == WAIT_TIMEOUT && left == 0) return OS_NET_TIMEOUT;
  }
}
