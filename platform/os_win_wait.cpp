// The one wait on Windows. Every connection of OsTcpConnectStart signals one
// shared event when something happens on it (WSAEventSelect), so that the
// sockets, the watch and the termination request are waited on together
// in one WaitForMultipleObjects, however many sockets there are. Which
// socket is ready is then asked of WSAPoll without waiting. Before that
// question the event is reset and every socket's record of what happened
// is taken (WSAEnumNetworkEvents): a record left standing may signal the
// event again at once, and the record tells of a failed connection, which
// WSAPoll leaves unsaid on some systems. Nothing that happens after the
// question is missed, and the wait still ends at least every slice.
#include <winsock2.h>
#include <windows.h>

#include "os_common.h"
#include "os_time.h"
#include "os_wait.h"
#include "os_win_wake.h"

namespace {

SOCKET Sock(OsSocket s) { return static_cast<SOCKET>(s.handle); }

// Takes what the system recorded of s since the last look; true when a
// connection being made has failed.
bool TakeRecord(SOCKET s) {
  WSANETWORKEVENTS happened{};
  if (WSAEnumNetworkEvents(s, nullptr, &happened) != 0) return false;
  return (happened.lNetworkEvents & FD_CONNECT) != 0 && happened.iErrorCode[FD_CONNECT_BIT] != 0;
}

// Asks without waiting which sockets are ready; -1 on failure.
int Poll(OsWaitSocket* sockets, size_t count, const bool* failedConnects) {
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
    if (failedConnects[i]) sockets[i].writable = true;
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
  HANDLE net = OsWinNetEvent();
  HANDLE waits[3];
  DWORD n = 0;
  if (count > 0) waits[n++] = net;
  HANDLE watchEvent = watch != nullptr ? OsWinWatchEvent(watch) : nullptr;
  if (watchEvent != nullptr) waits[n++] = watchEvent;
  HANDLE stop = OsWinStopWakeEvent();
  if (stop != nullptr) waits[n++] = stop;
  bool failedConnects[OS_WAIT_MAX_SOCKETS] = {};
  return OsCommonWaitInSlices(OsMonotonicMs() + timeoutMs, [&](uint32_t ms) {
    if (count > 0) ResetEvent(net);
    for (size_t i = 0; i < count; ++i)
      if (TakeRecord(Sock(sockets[i].socket)) && sockets[i].wantWrite) failedConnects[i] = true;
    int ready = Poll(sockets, count, failedConnects);
    if (ready < 0) return WSAGetLastError();
    *watchReady = watchEvent != nullptr && WaitForSingleObject(watchEvent, 0) == WAIT_OBJECT_0;
    if (ready > 0 || *watchReady) return 0;
    DWORD r = n > 0 ? WaitForMultipleObjects(n, waits, FALSE, ms) : (Sleep(ms), WAIT_TIMEOUT);
    if (stop != nullptr && r == WAIT_OBJECT_0 + n - 1) return OS_NET_STOPPED;
    if (r == WAIT_FAILED) return static_cast<int>(GetLastError());
    return OS_NET_NOT_NOW;
  });
}
