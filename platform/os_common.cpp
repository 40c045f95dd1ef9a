// What the platform files of both systems do alike (os_common.h), and the
// procedures of the layer that are the same on both, built on each
// system's primitives: the sleep, the waits and transfers of a socket, the
// sibling program's path.
#include "os_common.h"

// The one place where both systems' socket headers meet: sockaddr_in.
#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "os_stop.h"
#include "os_time.h"

int OsCommonRemaining(uint64_t deadline) {
  uint64_t now = OsMonotonicMs();
  return now >= deadline ? 0 : static_cast<int>(std::min<uint64_t>(deadline - now, INT_MAX));
}

int OsCommonWaitInSlices(uint64_t deadline, int (*waitSlice)(void* context, uint32_t ms), void* context) {
  if (OsStopRequested()) return OS_NET_STOPPED;
  for (;;) {
    int left = OsCommonRemaining(deadline);
    int r = waitSlice(context, std::min(static_cast<uint32_t>(left), OS_STOP_SLICE_MS));
    if (r != OS_NET_TIMEOUT && r != OS_NET_NOT_NOW) return r;
    if (OsStopPending()) return OS_NET_STOPPED;
    if (left == 0) return OS_NET_TIMEOUT;
  }
}

void OsSleepMs(uint32_t ms) {
  OsCommonWaitInSlices(OsMonotonicMs() + ms, [](uint32_t slice) {
    OsSysSleepSlice(slice);
    return OS_NET_TIMEOUT;
  });
}

sockaddr_in OsCommonAddress(uint32_t ipv4, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(ipv4);
  return a;
}

namespace {

uint64_t Deadline(int timeoutMs) { return OsMonotonicMs() + static_cast<uint64_t>(std::max(timeoutMs, 0)); }

// A client's wait: until s is ready or the deadline passes. A termination
// request ends it with OS_NET_STOPPED: a receiver that holds back its
// answer must not hold up a stop for the whole time-out.
int WaitReady(OsSocket s, bool writable, uint64_t deadline) {
  return OsCommonWaitInSlices(deadline, [&](uint32_t ms) { return OsSysSocketWait(s, writable, static_cast<int>(ms), true); });
}

// Moves n bytes within timeoutMs in all, *done telling how many went:
// step(at, &more) moves what it can from offset at. A blocking socket (a
// slice ran out) and a non-blocking one (nothing to do yet) are alike; the
// rest of the time is spent in WaitReady.
template <typename Step>
int Transfer(OsSocket s, bool sending, size_t n, size_t* done, int timeoutMs, Step step) {
  const uint64_t deadline = Deadline(timeoutMs);
  *done = 0;
  while (*done < n) {
    if (OsStopRequested()) return OS_NET_STOPPED;
    size_t more = 0;
    int err = step(*done, &more);
    if (err == OS_NET_NOT_NOW) err = WaitReady(s, sending, deadline);
    if (err != 0) return err;
    *done += more;
  }
  return 0;
}

// A server's wait runs its whole time-out (-1: no limit) whatever comes:
// attempt() is made again each time s is readable.
template <typename Attempt>
int AsServer(OsSocket s, int timeoutMs, Attempt attempt) {
  const uint64_t deadline = Deadline(timeoutMs);
  for (;;) {
    int err = attempt();
    if (err != OS_NET_NOT_NOW) return err;
    err = OsSysSocketWait(s, false, timeoutMs < 0 ? -1 : OsCommonRemaining(deadline), false);
    if (err != 0 && err != OS_NET_NOT_NOW) return err;
  }
}

}  // namespace

int OsTcpConnect(uint32_t ipv4, uint16_t port, int timeoutMs, OsSocket* s) {
  const uint64_t deadline = Deadline(timeoutMs);
  OsSocket c;
  int err = OsSysConnectBegin(ipv4, port, false, &c);
  if (err == OS_NET_NOT_NOW) {
    err = WaitReady(c, true, deadline);
    if (err == 0) err = OsTcpConnectResult(c);
  }
  if (err != 0) {
    OsSocketClose(&c);
    return err;
  }
  OsSysConnected(c, timeoutMs);
  *s = c;
  return 0;
}

int OsTcpConnectStart(uint32_t ipv4, uint16_t port, OsSocket* s) {
  int err = OsSysConnectBegin(ipv4, port, true, s);
  return err == OS_NET_NOT_NOW ? 0 : err;
}

int OsTcpSend(OsSocket s, const void* data, size_t n, size_t* sent, int timeoutMs) {
  const char* p = static_cast<const char*>(data);
  return Transfer(s, true, n, sent, timeoutMs, [&](size_t at, size_t* more) {
    return OsSysSend(s, p + at, n - at, false, more);
  });
}

int OsTcpRecv(OsSocket s, void* buf, size_t n, size_t* got, int timeoutMs) {
  return OsTcpRecvAtLeast(s, buf, n, n, got, timeoutMs);
}

int OsTcpRecvAtLeast(OsSocket s, void* buf, size_t n, size_t cap, size_t* got, int timeoutMs) {
  char* p = static_cast<char*>(buf);
  return Transfer(s, false, n, got, timeoutMs, [&](size_t at, size_t* more) {
    return OsSysRecv(s, p + at, cap - at, false, more);
  });
}

int OsTcpRecvSome(OsSocket s, void* buf, size_t n, size_t* got, int timeoutMs) {
  return AsServer(s, timeoutMs, [&] { return OsSysRecv(s, buf, n, false, got); });
}

int OsTcpSendNow(OsSocket s, const void* data, size_t n, size_t* sent) {
  int err = OsSysSend(s, data, n, true, sent);
  return err == OS_NET_NOT_NOW ? 0 : err;
}

int OsTcpRecvNow(OsSocket s, void* buf, size_t n, size_t* got) {
  int err = OsSysRecv(s, buf, n, true, got);
  return err == OS_NET_NOT_NOW ? 0 : err;
}

int OsTcpAccept(OsSocket listener, int timeoutMs, OsSocket* client) {
  return AsServer(listener, timeoutMs, [&] { return OsSysAccept(listener, client); });
}

bool OsCommonSiblingPath(const char* self, char separator, const char* program, const char* suffix, char* buf,
                         unsigned size) {
  const char* end = strrchr(self, separator);
  int folder = end == nullptr ? 0 : static_cast<int>(end - self + 1);
  int n = snprintf(buf, size, "%.*s%s%s", folder, self, program, suffix);
  return n >= 0 && static_cast<unsigned>(n) < size;
}
