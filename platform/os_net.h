// TCP client and server sockets over IPv4.
// Results are 0 for success, an error number of the system, or one of the
// OS_NET_* codes below (os_error.h).
//
// Both systems keep to this:
// - Connecting, sending and receiving (OsTcpConnect, OsTcpSend, OsTcpRecv,
//   OsTcpRecvAtLeast) take at most their time-out, one deadline for the
//   whole call. Their waits end with OS_NET_STOPPED once a termination
//   request has arrived (at once) or the stop event is found reset (within
//   OS_STOP_SLICE_MS; os_stop.h).
// - The waits of a server (OsTcpAccept, OsTcpRecvSome) run their time-out
//   whatever comes; a server waits in short ones and asks OsStopRequested.
// - Sockets have TCP_NODELAY, are not inherited by child processes, and a
//   write to a closed connection is an error, never a signal.
#pragma once
#include <cstddef>
#include <cstdint>

struct OsSocket {
  intptr_t handle = -1;
};

constexpr int OS_NET_TIMEOUT = -10060;      // the time-out ran out
constexpr int OS_NET_PEER_CLOSED = -10101;  // the peer closed before all bytes came
constexpr int OS_NET_STOPPED = -1223;       // a termination request cut the wait short

// Starts the socket layer once per process; later calls do nothing.
int OsNetStartup();

// Connects to ipv4 (host byte order) and port within timeoutMs.
int OsTcpConnect(uint32_t ipv4, uint16_t port, int timeoutMs, OsSocket* s);

// Begins connecting to ipv4 (host byte order) and port without waiting: 0
// with *s on its way (wait for it to be writable with OsWaitAny, os_wait.h),
// or the error that ended it at once. The socket never blocks.
int OsTcpConnectStart(uint32_t ipv4, uint16_t port, OsSocket* s);
// Once the wait says a socket of OsTcpConnectStart is writable: 0 when the
// connection came about, else the system's error why not.
int OsTcpConnectResult(OsSocket s);

// Sends all n bytes, retrying partial and interrupted sends, within
// timeoutMs in all; *sent tells how many went.
int OsTcpSend(OsSocket s, const void* data, size_t n, size_t* sent, int timeoutMs);

// Receives exactly n bytes within timeoutMs in all; *got tells how many came.
int OsTcpRecv(OsSocket s, void* buf, size_t n, size_t* got, int timeoutMs);

// Receives at least n bytes within timeoutMs in all, taking in the same
// calls whatever else has arrived, up to cap bytes (cap >= n): a caller that
// wants exactly n sees a surplus without a call of its own. *got tells how
// many came.
int OsTcpRecvAtLeast(OsSocket s, void* buf, size_t n, size_t cap, size_t* got, int timeoutMs);

// *pending is true when bytes have arrived that have not been received yet.
// Never waits.
int OsTcpHasInput(OsSocket s, bool* pending);

// Receives what has arrived, at most n bytes, waiting up to timeoutMs for the
// first; *got is 0 with OS_NET_PEER_CLOSED when the peer closed.
int OsTcpRecvSome(OsSocket s, void* buf, size_t n, size_t* got, int timeoutMs);

// What a loop that keeps several connections going needs: sending and
// receiving only what the connection takes or holds at this moment (it
// waits for them with OsWaitAny, os_wait.h).
//
// Sends at most n bytes, as many as the connection takes at once; *sent
// may be 0.
int OsTcpSendNow(OsSocket s, const void* data, size_t n, size_t* sent);
// Receives at most n bytes of what has arrived; *got may be 0.
// OS_NET_PEER_CLOSED when the peer has closed and nothing is left.
int OsTcpRecvNow(OsSocket s, void* buf, size_t n, size_t* got);

int OsSocketClose(OsSocket* s);

// Listens on ipv4 (host byte order) and port (0: any free port), which no
// other listener may share, with room for backlog connections not yet
// accepted; *boundPort receives the port in use.
int OsTcpListen(uint32_t ipv4, uint16_t port, OsSocket* s, uint16_t* boundPort, int backlog = 64);
// Waits up to timeoutMs (-1: no limit) for a connection; OS_NET_TIMEOUT when none came.
int OsTcpAccept(OsSocket listener, int timeoutMs, OsSocket* client);

// Writes the first IPv4 address of an interface that is up and not loopback,
// or "127.0.0.1" when there is none.
int OsLocalIPv4(char* buf, size_t size);
