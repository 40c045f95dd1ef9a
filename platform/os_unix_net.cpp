// TCP over POSIX sockets: the primitives that the procedures of
// os_common.cpp are built on, and what is the system's own.
#include "os_net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "os_common.h"
#include "os_stop.h"
#include "os_unix_robust.h"
#include "os_unix_wake.h"
#include "text.h"

namespace {

int Fd(OsSocket s) { return static_cast<int>(s.handle); }

int NewSocket() {
  return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

void SetNoDelay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// What a failed call leaves in errno, with nothing done yet taken as
// OS_NET_NOT_NOW. A signal counts so too: a termination request is then
// seen before the next try.
int NotNowOr(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == EINTR ? OS_NET_NOT_NOW : err; }

}  // namespace

int OsNetStartup() { return 0; }

// Any socket may be waited on with poll: it needs nothing for OsWaitAny.
int OsSysConnectBegin(uint32_t ipv4, uint16_t port, bool, OsSocket* s) {
  int fd = NewSocket();
  if (fd < 0) return errno;
  SetNoDelay(fd);
  sockaddr_in a = OsCommonAddress(ipv4, port);
  int err = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : errno;
  if (err == EINPROGRESS || err == EINTR) err = OS_NET_NOT_NOW;
  if (err != 0 && err != OS_NET_NOT_NOW) {
    OsUnixClose(fd);
    return err;
  }
  s->handle = fd;
  return err;
}

// A connected client socket blocks, so that sending a frame and receiving
// its answer take one system call each, as in the plainest loop. Each block
// lasts at most one slice; after it, the wait goes on in poll, where a
// termination request ends it at once. A request arriving just before a
// blocking call is thus seen within a slice.
void OsSysConnected(OsSocket s, int timeoutMs) {
  constexpr int kBlockingSliceMs = OS_STOP_SLICE_MS;
  int slice = timeoutMs > 0 && timeoutMs < kBlockingSliceMs ? timeoutMs : kBlockingSliceMs;
  timeval tv{slice / 1000, (slice % 1000) * 1000};
  setsockopt(Fd(s), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(Fd(s), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  int flags = fcntl(Fd(s), F_GETFL);
  if (flags >= 0) fcntl(Fd(s), F_SETFL, flags & ~O_NONBLOCK);
}

int OsTcpConnectResult(OsSocket s) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

int OsSysSend(OsSocket s, const void* data, size_t n, bool now, size_t* done) {
  *done = 0;
  ssize_t r = send(Fd(s), data, n, MSG_NOSIGNAL | (now ? MSG_DONTWAIT : 0));
  if (r < 0) return NotNowOr(errno);
  *done = static_cast<size_t>(r);
  return r == 0 && n > 0 ? EPIPE : 0;
}

int OsSysRecv(OsSocket s, void* buf, size_t n, bool now, size_t* done) {
  *done = 0;
  ssize_t r = recv(Fd(s), buf, n, now ? MSG_DONTWAIT : 0);
  if (r < 0) return NotNowOr(errno);
  *done = static_cast<size_t>(r);
  return r == 0 ? OS_NET_PEER_CLOSED : 0;
}

// The wake pipe stays readable once a request has come, so a request that
// came just before the poll still ends it at once.
int OsSysSocketWait(OsSocket s, bool writable, int timeoutMs, bool stoppable) {
  pollfd p[2] = {{Fd(s), static_cast<short>(writable ? POLLOUT : POLLIN), 0},
                 {stoppable ? OsUnixStopWakeFd() : -1, POLLIN, 0}};
  int r = poll(p, 2, timeoutMs);
  if (r < 0) return errno == EINTR ? OS_NET_NOT_NOW : errno;
  if (r == 0) return OS_NET_TIMEOUT;
  return p[0].revents != 0 ? 0 : OS_NET_STOPPED;
}

int OsTcpHasInput(OsSocket s, bool* pending) {
  char byte;
  ssize_t r = OsUnixRetry([&] { return recv(Fd(s), &byte, 1, MSG_PEEK | MSG_DONTWAIT); });
  *pending = r > 0;
  if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
  return 0;
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
  sockaddr_in a = OsCommonAddress(ipv4, port);
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

int OsSysAccept(OsSocket listener, OsSocket* client) {
  int fd;
  // A connection reset before it was taken is passed over.
  do fd = accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  while (fd < 0 && errno == ECONNABORTED);
  if (fd < 0) return NotNowOr(errno);
  SetNoDelay(fd);
  client->handle = fd;
  return 0;
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
