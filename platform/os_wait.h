// One wait for everything a loop of one thread waits on at once: its
// client connections, a folder watch and the termination request.
// Results are 0 when something is ready, OS_NET_TIMEOUT when the time ran
// out, OS_NET_STOPPED (os_net.h) on a termination request, or an error
// number of the system.
//
// Both systems keep to this:
// - A termination request ends the wait at once, a stop event found reset
//   within OS_STOP_SLICE_MS (os_stop.h).
// - A socket is ready for reading when something has arrived, the peer
//   closed or the connection failed (the receive that follows tells which);
//   for writing when it takes more to send, or when a connection begun with
//   OsTcpConnectStart has come about or failed (OsTcpConnectResult tells).
// - A watch is ready when the system has news of the folder; OsWatchRead
//   (os_watch.h) takes them without waiting.
// - At most OS_WAIT_MAX_SOCKETS sockets are waited on at once.
#pragma once
#include <cstddef>
#include <cstdint>

#include "os_net.h"
#include "os_watch.h"

constexpr size_t OS_WAIT_MAX_SOCKETS = 64;

struct OsWaitSocket {
  OsSocket socket;
  bool wantRead = false;
  bool wantWrite = false;
  bool readable = false;  // set by the wait
  bool writable = false;  // set by the wait
};

// Waits up to timeoutMs for one of sockets to be ready as it wants, for
// news of watch (nullptr: none), or for a termination request. *watchReady
// tells whether the watch has news.
int OsWaitAny(OsWaitSocket* sockets, size_t count, OsWatch* watch, uint32_t timeoutMs, bool* watchReady);
