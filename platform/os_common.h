// Between the platform files only: what both systems do alike, written
// once in os_common.cpp, and the primitives of each system's own files
// that it is built on (OsSys..., one definition per system).
#pragma once
#include <cstddef>
#include <cstdint>

#include "os_net.h"

struct sockaddr_in;

// Milliseconds left until deadline (OsMonotonicMs), never negative.
int OsCommonRemaining(uint64_t deadline);

// Waits until waitSlice(ms) ends the wait with its result, the deadline
// passes (OS_NET_TIMEOUT) or a termination request is pending
// (OS_NET_STOPPED). waitSlice waits at most ms for the system's own objects
// and returns OS_NET_TIMEOUT or OS_NET_NOT_NOW when nothing came; it is
// called with at most OS_STOP_SLICE_MS, so that a stop event found reset
// ends the wait within a slice. A request that came before the call ends it
// at once.
int OsCommonWaitInSlices(uint64_t deadline, int (*waitSlice)(void* context, uint32_t ms), void* context);
template <typename WaitSlice>
int OsCommonWaitInSlices(uint64_t deadline, WaitSlice waitSlice) {
  auto call = [](void* context, uint32_t ms) { return (*static_cast<WaitSlice*>(context))(ms); };
  return OsCommonWaitInSlices(deadline, call, &waitSlice);
}

// Sleeps at most ms, or less once a termination request has arrived.
void OsSysSleepSlice(uint32_t ms);

// The socket address of ipv4 and port, both in host byte order.
sockaddr_in OsCommonAddress(uint32_t ipv4, uint16_t port);

// What the socket primitives below return when nothing could be done at
// once: a non-blocking socket is not ready, a blocking one's slice ran out,
// or a signal came between. It never leaves the platform layer.
constexpr int OS_NET_NOT_NOW = -10035;

// One send of at most n bytes: 0 with *done bytes taken, OS_NET_NOT_NOW or
// an error. now: without waiting, whatever the socket.
int OsSysSend(OsSocket s, const void* data, size_t n, bool now, size_t* done);
// One receive of at most n bytes: 0 with *done bytes, OS_NET_PEER_CLOSED,
// OS_NET_NOT_NOW or an error. now: without waiting, whatever the socket.
int OsSysRecv(OsSocket s, void* buf, size_t n, bool now, size_t* done);
// Waits up to timeoutMs (-1: no limit) for s to be writable, or readable:
// 0 when it is, OS_NET_TIMEOUT, OS_NET_NOT_NOW, OS_NET_STOPPED (stoppable,
// where the system lets a termination request end the wait) or an error.
int OsSysSocketWait(OsSocket s, bool writable, int timeoutMs, bool stoppable);
// One accept: 0 with *client, OS_NET_NOT_NOW or an error.
int OsSysAccept(OsSocket listener, OsSocket* client);
// Begins connecting: 0 with *s connected, OS_NET_NOT_NOW with *s on its way,
// or an error. forWaitAny: the socket is to be waited on with OsWaitAny.
int OsSysConnectBegin(uint32_t ipv4, uint16_t port, bool forWaitAny, OsSocket* s);
// Readies a connection of OsTcpConnect for its sends and receives.
void OsSysConnected(OsSocket s, int timeoutMs);

// The full path of program, with suffix, in the folder of the program at
// self, whose folders end in separator. False when buf is too small.
bool OsCommonSiblingPath(const char* self, char separator, const char* program, const char* suffix, char* buf,
                         unsigned size);
