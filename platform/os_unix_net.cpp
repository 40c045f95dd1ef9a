#include "os_net.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "os_sync.h"
#include "os_time.h"
#include "os_unix_robust.h"
#include "os_unix_wake.h"
#include "text.h"

namespace {

int Fd(OsSocket s) { return static_cast<int>(s.handle); }

// Milliseconds left until deadline, never negative.
int Remaining(uint64_t deadline) {
  uint64_t now = OsMonotonicMs();
  return now >= deadline ? 0 : static_cast<int>(deadline - now);
}

// Waits until fd is ready for events or the deadline passes. A termination
// request (OsStopOnSignals) ends the wait with OS_NET_STOPPED: a receiver
// that holds back its answer must not hold up a stop for the whole time-out.
int WaitReady(int fd, short events, uint64_t deadline) {
  pollfd p[2] = {{fd, events, 0}, {OsUnixStopWakeFd(), POLLIN, 0}};
  nfds_t count = p[1].fd >= 0 ? 2 : 1;
  if (OsStopRequested()) return OS_NET_STOPPED;
  for (;;) {
    int left = Remaining(deadline);
    int r = poll(p, count, std::min(left, static_cast<int>(OS_STOP_SLICE_MS)));
    if (r > 0) return p[0].revents != 0 ? 0 : OS_NET_STOPPED;
    if (r < 0 && errno != EINTR) return errno;
    if (OsStopPending()) return OS_NET_STOPPED;
    if (r == 0 && left == 0) return OS_NET_TIMEOUT;
  }
}

sockaddr_in Address(uint32_t ipv4, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(ipv4);
  return a;
}

int NewSocket() {
  return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

// A connected client socket blocks, so that sending a frame and receiving
// its answer take one system call each, as in the plainest loop. Each block
// lasts at most one slice; after it, the wait goes on in poll, where a
// termination request ends it at once. A request arriving just before a
// blocking call is thus seen within a slice.
constexpr int kBlockingSliceMs = OS_STOP_SLICE_MS;

void MakeBlockingInSlices(int fd, int timeoutMs) {
  int slice = timeoutMs > 0 && timeoutMs < kBlockingSliceMs ? timeoutMs : kBlockingSliceMs;
  timeval tv{slice / 1000, (slice % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

void SetNoDelay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace

int OsNetStartup() { return 0; }

int OsTcpConnect(uint32_t ipv4, uint16_t port, int timeoutMs, OsSocket* s) {
  uint64_t deadline = OsMonotonicMs() + static_cast<uint64_t>(timeoutMs);
  int fd = NewSocket();
  if (fd < 0) return errno;
  SetNoDelay(fd);
  sockaddr_in a = Address(ipv4, port);
  int err = 0;
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    err = errno;
    if (err == EINPROGRESS || err == EINTR) {
      err = WaitReady(fd, POLLOUT, deadline);
      if (err == 0) {
        socklen_t len = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
      }
    }
  }
  if (err != 0) {
    OsUnixClose(fd);
    return err;
  }
  MakeBlockingInSlices(fd, timeoutMs);
  s->handle = fd;
  return 0;
}

int OsTcpConnectStart(uint32_t ipv4, uint16_t port, OsSocket* s) {
  int fd = NewSocket();
  if (fd < 0) return errno;
  SetNoDelay(fd);
  sockaddr_in a = Address(ipv4, port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS && errno != EINTR) {
    int err = errno;
    OsUnixClose(fd);
    return err;
  }
  s->handle = fd;
  return 0;
}

int OsTcpConnectResult(OsSocket s) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

// Both work on blocking sockets (a slice ran out: EAGAIN) and non-blocking
// ones (nothing to do yet: EAGAIN) alike; the rest of the time is spent in
// WaitReady.
int OsTcpSend(OsSocket s, const void* data, size_t n, size_t* sent, int timeoutMs) {
  uint64_t deadline = OsMonotonicMs() + static_cast<uint64_t>(timeoutMs);
  const char* p = static_cast<const char*>(data);
  *sent = 0;
  while (*sent < n) {
    if (OsStopRequested()) return OS_NET_STOPPED;
    ssize_t r = send(Fd(s), p + *sent, n - *sent, MSG_NOSIGNAL);
    if (r > 0) {
      *sent += static_cast<size_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      int err = WaitReady(Fd(s), POLLOUT, deadline);
      if (err != 0) return err;
      continue;
    }
    return r < 0 ? errno : EPIPE;
  }
  return 0;
}

int OsTcpRecv(OsSocket s, void* buf, size_t n, size_t* got, int timeoutMs) {
  return OsTcpRecvAtLeast(s, buf, n, n, got, timeoutMs);
}

int OsTcpRecvAtLeast(OsSocket s, void* buf, size_t n, size_t cap, size_t* got, int timeoutMs) {
  uint64_t deadline = OsMonotonicMs() + static_cast<uint64_t>(timeoutMs);
  char* p = static_cast<char*>(buf);
  *got = 0;
  while (*got < n) {
    if (OsStopRequested()) return OS_NET_STOPPED;
    ssize_t r = recv(Fd(s), p + *got, cap - *got, 0);
    if (r > 0) {
      *got += static_cast<size_t>(r);
      continue;
    }
    if (r == 0) return OS_NET_PEER_CLOSED;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    int err = WaitReady(Fd(s), POLLIN, deadline);
    if (err != 0) return err;
  }
  return 0;
}

int OsTcpHasInput(OsSocket s, bool* pending) {
  char byte;
  ssize_t r = OsUnixRetry([&] { return recv(Fd(s), &byte, 1, MSG_PEEK | MSG_DONTWAIT); });
  *pending = r > 0;
  if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
  return 0;
}

int OsTcpRecvSome(OsSocket s, void* buf, size_t n, size_t* got, int timeoutMs) {
  uint64_t deadline = OsMonotonicMs() + static_cast<uint64_t>(timeoutMs < 0 ? 0 : timeoutMs);
  *got = 0;
  for (;;) {
    ssize_t r = recv(Fd(s), buf, n, 0);
    if (r > 0) {
      *got = static_cast<size_t>(r);
      return 0;
    }
    if (r == 0) return OS_NET_PEER_CLOSED;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    pollfd p{Fd(s), POLLIN, 0};
    int ready = poll(&p, 1, timeoutMs < 0 ? -1 : Remaining(deadline));
    if (ready == 0) return OS_NET_TIMEOUT;
    if (ready < 0 && errno != EINTR) return errno;
  }
}

int OsTcpSendNow(OsSocket s, const void* data, size_t n, size_t* sent) {
  *sent = 0;
  for (;;) {
    ssize_t r = send(Fd(s), data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r >= 0) {
      *sent = static_cast<size_t>(r);
      return 0;
    }
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : errno;
  }
}

int OsTcpRecvNow(OsSocket s, void* buf, size_t n, size_t* got) {
  *got = 0;
  for (;;) {
    ssize_t r = recv(Fd(s), buf, n, MSG_DONTWAIT);
    if (r > 0) {
      *got = static_cast<size_t>(r);
      return 0;
    }
    if (r == 0) return OS_NET_PEER_CLOSED;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : errno;
  }
}

int OsSocketClose(OsSocket* s) {
  if (s->handle < 0) return 0;
  int fd = Fd(*s);
  s->handle = -1;
  return OsUnixClose(fd);
}

int OsTcpListen(uint32_t ipv4, uint16_t port, OsSocket* s, uint16_t* boundPort, int backlog) {
  int fd = NewSocket();
  if (fd < 0) return errno;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a = Address(ipv4, port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0) {
    int err = errno;
    OsUnixClose(fd);
    return err;
  }
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  if (boundPort) *boundPort = ntohs(a.sin_port);
  s->handle = fd;
  return 0;
}

int OsTcpAccept(OsSocket listener, int timeoutMs, OsSocket* client) {
  uint64_t deadline = OsMonotonicMs() + static_cast<uint64_t>(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    int fd = accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) {
      SetNoDelay(fd);
      client->handle = fd;
      return 0;
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    pollfd p{Fd(listener), POLLIN, 0};
    int r = poll(&p, 1, timeoutMs < 0 ? -1 : Remaining(deadline));
    if (r == 0) return OS_NET_TIMEOUT;
    if (r < 0 && errno != EINTR) return errno;
  }
}

int OsLocalIPv4(char* buf, size_t size) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return errno;
  const char* found = "127.0.0.1";
  char text[INET_ADDRSTRLEN] = "";
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK)) continue;
    auto* in = reinterpret_cast<sockaddr_in*>(i->ifa_addr);
    if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) {
      found = text;
      break;
    }
  }
  int err = TextCopyWhole(buf, size, found) ? 0 : ENOSPC;
  freeifaddrs(list);
  return err;
}
