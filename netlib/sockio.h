// SOCKIO: the network and log library. The service does no socket or log
// work itself: it calls these eight operations, and the few beyond them
// further down that keep several connections going at once.
//
// Results: 0 for success, otherwise an error code (CLogOpen: non-zero for
// success). An error code is the operating system's error number where the
// system gave one (errno on POSIX, the WSA error number on Windows), else one
// of the SOCKIO_E* codes below.
//
// Decisions of this implementation:
// - Time-outs are in seconds; 0 means the default of 3 seconds. No call
//   blocks longer than its time-out: connecting, writing (the peer may stop
//   reading) and reading (one deadline for all wanted bytes). CSocketWrite
//   uses the time-out given to CSocketClientOpen.
// - CSocketClientOpen takes the receiver address raw from a buffer file: up
//   to 15 characters with trailing blanks or a line end. Surrounding white
//   space is trimmed and dotted IPv4 accepted; other text gives
//   SOCKIO_EADDRESS. On failure the stored handle is 0, which CSocketClose
//   accepts without effect.
// - Sockets have TCP_NODELAY set and each write leaves in one send call where
//   the system takes it whole, so a frame never waits on delayed
//   acknowledgements. Writing never raises SIGPIPE.
// - CSocketRead returns 0 only when all wanted bytes arrived. It reads them
//   with room for one byte more in the same receive call: a receiver that
//   sent more than was wanted (two answers to one frame, say) is out of step,
//   and the read gives the wanted bytes with SOCKIO_EEXTRA. The first
//   CSocketWrite on a connection gives SOCKIO_EEXTRA, sending nothing, when
//   bytes came before anything was sent. Either way the connection is of no
//   further use.
// - A termination request (os_stop.h: a signal, a console control event, the
//   stop event found reset) cuts connecting, writing and reading short with
//   SOCKIO_ESTOPPED within a fraction of a second. That is no failure of the
//   connection: the caller stops rather than reports it.
// - CGetLocalIPString gives the first IPv4 address of an interface that is up
//   and not loopback, else "127.0.0.1".
// - The error log writes an entry when its severity is at most the log level
//   (level 0 writes nothing). The maximum size is in KiB: an entry that would
//   take the file past it first renames the file to its name with ".old"
//   appended (replacing an older one) and begins a new file; when the rename
//   is refused (a folder of that name, say) the file is emptied instead and
//   its first entry says so. One entry is one line, appended with a single
//   write, so entries of concurrent writers never interleave; an entry that
//   only partly fits (a full disk) is cut off again, so that none is left
//   torn. The log is opened only when it is a regular file, never through a
//   symbolic link. A log that cannot be written is silently passed over.
#pragma once
#include <cstdint>

// The library's own error codes.
constexpr int32_t SOCKIO_ETIMEOUT = 9001;      // the time-out ran out
constexpr int32_t SOCKIO_ECLOSED = 9002;       // the peer closed the connection first
constexpr int32_t SOCKIO_EADDRESS = 9003;      // the address text is no dotted IPv4 address
constexpr int32_t SOCKIO_EHANDLE = 9004;       // no open socket has this handle
constexpr int32_t SOCKIO_EARGUMENT = 9005;     // a null buffer, a bad length or port
constexpr int32_t SOCKIO_ENOLOG = 9006;        // the error log is not open
constexpr int32_t SOCKIO_ESTOPPED = 9007;      // a termination request cut the call short
constexpr int32_t SOCKIO_EEXTRA = 9008;        // the peer sent bytes nobody asked for

int32_t CSocketClientOpen(int32_t* handle, const char* destIp, int32_t port, int32_t timeout);
int32_t CSocketClose(int32_t handle);
int32_t CSocketRead(int32_t handle, char* buffer, int32_t wanted, int32_t* received, int32_t timeout);
int32_t CSocketWrite(int32_t handle, const char* data, int32_t length, int32_t* sent);
int32_t CGetErrorInfo(int32_t* code, char* text, int32_t size);
int32_t CGetLocalIPString(char* buffer, int32_t size);
int32_t CLogOpen(const char* fileName, int32_t level, int32_t maxSizeKiB);
int32_t CLogWrite(const char* source, const char* function, int32_t severity, int32_t code, int32_t secondary,
                  const char* message, const char* detail);

// Beyond the eight operations, for the programs that write receiver
// addresses or take one on their command line: the parser CSocketClientOpen
// applies. Dotted IPv4 text of at most `limit` characters (or up to its zero
// byte), surrounding white space allowed, into host byte order; false for
// any other text.
bool SockioParseIPv4(const char* text, int limit, uint32_t* ipv4);
// Beyond the eight operations: what a loop of one thread needs to keep
// several connections going at once, none of them waiting but
// CSocketWaitAny.
//
// Begins a connection as CSocketClientOpen makes one, without waiting for
// it: 0 with *handle on its way, or the code CSocketClientOpen would give
// (the address and port are refused alike). Its time-out is the caller's to
// keep; timeout is kept for the handle's writes.
int32_t CSocketClientStart(int32_t* handle, const char* destIp, int32_t port, int32_t timeout);
// Once CSocketWaitAny says a handle of CSocketClientStart is writable: 0
// when the connection came about, else the code CSocketClientOpen would
// give. The handle is closed with CSocketClose either way.
int32_t CSocketClientFinish(int32_t handle);
// Sends what the connection takes at once, at most length bytes; *sent may
// be 0. The first write on a connection checks for early bytes as
// CSocketWrite does.
int32_t CSocketWriteSome(int32_t handle, const char* data, int32_t length, int32_t* sent);
// Receives what has arrived, at most size bytes; *received may be 0.
// SOCKIO_ECLOSED when the peer has closed and nothing is left.
int32_t CSocketReadSome(int32_t handle, char* buffer, int32_t size, int32_t* received);

struct OsWatch;
// One handle to wait for, and what it is ready for once the wait is over.
struct SockioWait {
  int32_t handle = 0;
  bool wantRead = false;
  bool wantWrite = false;
  bool readable = false;
  bool writable = false;
};
// Waits up to timeoutMs milliseconds until one of the count handles is ready
// as it wants, the caller's folder watch (nullptr: none) has news
// (*watchReady), or a termination request comes: the watch is waited on in
// the same call, so that one thread waits for both. 0, SOCKIO_ETIMEOUT,
// SOCKIO_ESTOPPED, or an error code.
int32_t CSocketWaitAny(SockioWait* items, int32_t count, OsWatch* watch, int32_t timeoutMs, bool* watchReady);
