// TCP over Winsock: the primitives that the procedures of os_common.cpp are
// built on, and what is the system's own. Sockets are non-blocking from the
// start, and every wait of a socket is WSAPoll. Error numbers are the WSA
// values.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <cstdio>
#include <mutex>
#include <vector>

#include "os_common.h"
#include "os_net.h"
#include "os_win_wake.h"
#include "text.h"

namespace {

SOCKET Sock(OsSocket s) { return static_cast<SOCKET>(s.handle); }

int LastError() { return WSAGetLastError(); }

// The last error, with nothing done yet taken as OS_NET_NOT_NOW.
int NotNowOrLastError() {
  int err = LastError();
  return err == WSAEWOULDBLOCK || err == WSAEINTR ? OS_NET_NOT_NOW : err;
}

int NewSocket(SOCKET* out) {
  // Not inherited: a child process must not keep a connection open.
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return LastError();
  u_long nonBlocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    int err = LastError();
    closesocket(s);
    return err;
  }
  *out = s;
  return 0;
}

void SetNoDelay(SOCKET s) {
  BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

// One send or recv takes at most an int's worth; larger requests go in parts.
int IoLengthCap(size_t n) { return n > 0x40000000 ? 0x40000000 : static_cast<int>(n); }

}  // namespace

int OsNetStartup() {
  static std::once_flag once;
  static int result = 0;
  std::call_once(once, [] {
    WSADATA data;
    result = WSAStartup(MAKEWORD(2, 2), &data);
  });
  return result;
}

int OsSysConnectBegin(uint32_t ipv4, uint16_t port, bool forWaitAny, OsSocket* s) {
  int err = OsNetStartup();
  if (err != 0) return err;
  SOCKET fd;
  err = NewSocket(&fd);
  if (err != 0) return err;
  SetNoDelay(fd);
  // From now on whatever happens on it signals the one wait's event.
  if (forWaitAny && WSAEventSelect(fd, OsWinNetEvent(), FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE) != 0)
    err = LastError();
  sockaddr_in a = OsCommonAddress(ipv4, port);
  if (err == 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) err = LastError();
  if (err == WSAEWOULDBLOCK) err = OS_NET_NOT_NOW;
  if (err != 0 && err != OS_NET_NOT_NOW) {
    closesocket(fd);
    return err;
  }
  s->handle = static_cast<intptr_t>(fd);
  return err;
}

// Sockets stay non-blocking: every wait is WSAPoll.
void OsSysConnected(OsSocket, int) {}

int OsTcpConnectResult(OsSocket s) {
  int err = 0;
  int len = sizeof err;
  if (getsockopt(Sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0) return LastError();
  return err;
}

// Sockets are non-blocking: a send or receive never waits.
int OsSysSend(OsSocket s, const void* data, size_t n, bool, size_t* done) {
  *done = 0;
  int r = send(Sock(s), static_cast<const char*>(data), IoLengthCap(n), 0);
  if (r < 0) return NotNowOrLastError();
  *done = static_cast<size_t>(r);
  return r == 0 && n > 0 ? WSAECONNRESET : 0;
}

int OsSysRecv(OsSocket s, void* buf, size_t n, bool, size_t* done) {
  *done = 0;
  int r = recv(Sock(s), static_cast<char*>(buf), IoLengthCap(n), 0);
  if (r < 0) return NotNowOrLastError();
  *done = static_cast<size_t>(r);
  return r == 0 ? OS_NET_PEER_CLOSED : 0;
}

// Neither a console control event nor a reset stop event wakes a poll:
// they are looked for between slices. A refused connection shows as POLLERR
// (or POLLHUP), with the reason in SO_ERROR.
int OsSysSocketWait(OsSocket s, bool writable, int timeoutMs, bool) {
  WSAPOLLFD p{};
  p.fd = Sock(s);
  p.events = writable ? POLLOUT : POLLIN;
  int r = WSAPoll(&p, 1, timeoutMs);
  if (r > 0) return 0;
  if (r == 0) return OS_NET_TIMEOUT;
  return LastError();
}

int OsTcpHasInput(OsSocket s, bool* pending) {
  // Client sockets are non-blocking: a peek never waits.
  char byte;
  int r = recv(Sock(s), &byte, 1, MSG_PEEK);
  *pending = r > 0;
  if (r < 0 && LastError() != WSAEWOULDBLOCK) return LastError();
  return 0;
}

int OsSocketClose(OsSocket* s) {
  if (s->handle == -1) return 0;
  SOCKET fd = Sock(*s);
  s->handle = -1;
  return closesocket(fd) == 0 ? 0 : LastError();
}

int OsTcpListen(uint32_t ipv4, uint16_t port, OsSocket* s, uint16_t* boundPort, int backlog) {
  int err = OsNetStartup();
  if (err != 0) return err;
  SOCKET fd;
  err = NewSocket(&fd);
  if (err != 0) return err;
  // Windows lets SO_REUSEADDR steal a port in use; exclusive use is what
  // the POSIX option gives a listener.
  BOOL one = TRUE;
  setsockopt(fd, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
  sockaddr_in a = OsCommonAddress(ipv4, port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0) {
    err = LastError();
    closesocket(fd);
    return err;
  }
  int len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  if (boundPort) *boundPort = ntohs(a.sin_port);
  s->handle = static_cast<intptr_t>(fd);
  return 0;
}

int OsSysAccept(OsSocket listener, OsSocket* client) {
  SOCKET fd;
  // A connection reset before it was taken is passed over.
  do fd = accept(Sock(listener), nullptr, nullptr);
  while (fd == INVALID_SOCKET && LastError() == WSAECONNRESET);
  if (fd == INVALID_SOCKET) return NotNowOrLastError();
  // An accepted socket takes the listener's non-blocking mode.
  u_long nonBlocking = 1;
  ioctlsocket(fd, FIONBIO, &nonBlocking);
  SetHandleInformation(reinterpret_cast<HANDLE>(fd), HANDLE_FLAG_INHERIT, 0);
  SetNoDelay(fd);
  client->handle = static_cast<intptr_t>(fd);
  return 0;
}
int OsLocalIPv4(char* buf, size_t size) {
  const char* found = "127.0.0.1";
  char text[INET_ADDRSTRLEN] = "";
  ULONG length = 16 * 1024;
  std::vector<unsigned char> storage;
  ULONG r = ERROR_BUFFER_OVERFLOW;
  // The list may grow between the size query and the fetch: try a few times.
  for (int tries = 0; tries < 3 && r == ERROR_BUFFER_OVERFLOW; ++tries) {
    storage.resize(length);
    r = GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                             nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data()), &length);
  }
  if (r != NO_ERROR && r != ERROR_NO_DATA) return static_cast<int>(r);
  if (r == NO_ERROR) {
    for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data()); a && !text[0]; a = a->Next) {
      if (a->OperStatus != IfOperStatusUp || a->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
      for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
        const sockaddr* sa = u->Address.lpSockaddr;
        if (!sa || sa->sa_family != AF_INET) continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(sa);
        if ((ntohl(in->sin_addr.s_addr) >> 24) == 127) continue;
        snprintf(text, sizeof text, "%u.%u.%u.%u", in->sin_addr.S_un.S_un_b.s_b1, in->sin_addr.S_un.S_un_b.s_b2,
                 in->sin_addr.S_un.S_un_b.s_b3, in->sin_addr.S_un.S_un_b.s_b4);
        break;
      }
    }
  }
  if (text[0]) found = text;
  return TextCopyWhole(buf, size, found) ? 0 : ERROR_INSUFFICIENT_BUFFER;
}
