// Client sockets behind small integer handles, so that a handle fits the
// 32 bits callers keep and a stale or foreign value is recognised.
#include <cstring>
#include <vector>

#include "lasterror.h"
#include "os_net.h"
#include "os_wait.h"
#include "sockio.h"
#include "timeout.h"

namespace {

constexpr int kSlots = 256;
// Reads up to this size need no heap.
constexpr size_t kSmallRead = 64;

struct SocketSlot {
  OsSocket socket;
  int timeoutMs = 0;
  bool used = false;
  bool written = false;  // something was sent on it
};

SocketSlot slots[kSlots];

// The library's codes for the platform's own; the system's numbers pass as they are.
int32_t LibraryCode(int err) {
  if (err == OS_NET_TIMEOUT) return SOCKIO_ETIMEOUT;
  if (err == OS_NET_PEER_CLOSED) return SOCKIO_ECLOSED;
  if (err == OS_NET_STOPPED) return SOCKIO_ESTOPPED;
  return err;
}

SocketSlot* Find(int32_t handle) {
  if (handle < 1 || handle > kSlots || !slots[handle - 1].used) return nullptr;
  return &slots[handle - 1];
}

// An answer that came before its question would be taken for the answer to
// the first frame. Looked for once per connection, before its first write.
int32_t CheckFirstWrite(SocketSlot* slot) {
  if (slot->written) return 0;
  bool early = false;
  int err = OsTcpHasInput(slot->socket, &early);
  if (err != 0) return SockioFail(LibraryCode(err));
  if (early) return SockioFail(SOCKIO_EEXTRA);
  slot->written = true;
  return 0;
}

// The checks CSocketClientOpen makes before it connects, and a free slot.
int32_t PrepareConnect(int32_t* handle, const char* destIp, int32_t port, uint32_t* ipv4, int* slot) {
  if (!handle) return SockioFail(SOCKIO_EARGUMENT);
  *handle = 0;
  if (!SockioParseIPv4(destIp, 15, ipv4)) return SockioFail(SOCKIO_EADDRESS);
  if (port < 1 || port > 65535) return SockioFail(SOCKIO_EARGUMENT);
  int err = OsNetStartup();
  if (err != 0) return SockioFail(err);
  *slot = 0;
  while (*slot < kSlots && slots[*slot].used) ++*slot;
  if (*slot == kSlots) return SockioFail(SOCKIO_EHANDLE);
  return 0;
}

}  // namespace

int SockioTimeoutMs(int32_t seconds) {
  constexpr int32_t kDefaultSeconds = 3;
  constexpr int32_t kMaxSeconds = 86400;
  if (seconds <= 0) seconds = kDefaultSeconds;
  if (seconds > kMaxSeconds) seconds = kMaxSeconds;
  return seconds * 1000;
}

int32_t CSocketClientOpen(int32_t* handle, const char* destIp, int32_t port, int32_t timeout) {
  uint32_t ipv4 = 0;
  int slot = 0;
  if (int32_t r = PrepareConnect(handle, destIp, port, &ipv4, &slot); r != 0) return r;
  OsSocket s;
  int timeoutMs = SockioTimeoutMs(timeout);
  int err = OsTcpConnect(ipv4, static_cast<uint16_t>(port), timeoutMs, &s);
  if (err != 0) return SockioFail(LibraryCode(err));
  slots[slot] = SocketSlot{s, timeoutMs, true};
  *handle = slot + 1;
  return 0;
}

int32_t CSocketClientStart(int32_t* handle, const char* destIp, int32_t port, int32_t timeout) {
  uint32_t ipv4 = 0;
  int slot = 0;
  if (int32_t r = PrepareConnect(handle, destIp, port, &ipv4, &slot); r != 0) return r;
  OsSocket s;
  int err = OsTcpConnectStart(ipv4, static_cast<uint16_t>(port), &s);
  if (err != 0) return SockioFail(LibraryCode(err));
  slots[slot] = SocketSlot{s, SockioTimeoutMs(timeout), true};
  *handle = slot + 1;
  return 0;
}

int32_t CSocketClientFinish(int32_t handle) {
  SocketSlot* slot = Find(handle);
  if (!slot) return SockioFail(SOCKIO_EHANDLE);
  int err = OsTcpConnectResult(slot->socket);
  return err == 0 ? 0 : SockioFail(LibraryCode(err));
}

int32_t CSocketClose(int32_t handle) {
  if (handle == 0) return 0;  // what a failed open leaves behind
  SocketSlot* slot = Find(handle);
  if (!slot) return SockioFail(SOCKIO_EHANDLE);
  int err = OsSocketClose(&slot->socket);
  *slot = SocketSlot{};
  return err == 0 ? 0 : SockioFail(LibraryCode(err));
}

int32_t CSocketWrite(int32_t handle, const char* data, int32_t length, int32_t* sent) {
  if (sent) *sent = 0;
  SocketSlot* slot = Find(handle);
  if (!slot) return SockioFail(SOCKIO_EHANDLE);
  if (!data || length < 0) return SockioFail(SOCKIO_EARGUMENT);
  if (int32_t early = CheckFirstWrite(slot); early != 0) return early;
  size_t count = 0;
  int err = OsTcpSend(slot->socket, data, static_cast<size_t>(length), &count, slot->timeoutMs);
  if (sent) *sent = static_cast<int32_t>(count);
  return err == 0 ? 0 : SockioFail(LibraryCode(err));
}

int32_t CSocketRead(int32_t handle, char* buffer, int32_t wanted, int32_t* received, int32_t timeout) {
  if (received) *received = 0;
  SocketSlot* slot = Find(handle);
  if (!slot) return SockioFail(SOCKIO_EHANDLE);
  if (!buffer || wanted < 0) return SockioFail(SOCKIO_EARGUMENT);
  // Room for one byte more than wanted, so that a surplus shows in the same
  // receive call.
  const size_t want = static_cast<size_t>(wanted);
  char small[kSmallRead + 1];
  std::vector<char> large;
  char* area = small;
  if (want > kSmallRead) {
    large.resize(want + 1);
    area = large.data();
  }
  size_t count = 0;
  int err = OsTcpRecvAtLeast(slot->socket, area, want, want + 1, &count, SockioTimeoutMs(timeout));
  bool surplus = count > want;
  if (surplus) count = want;
  memcpy(buffer, area, count);
  if (received) *received = static_cast<int32_t>(count);
  if (err != 0) return SockioFail(LibraryCode(err));
  return surplus ? SockioFail(SOCKIO_EEXTRA) : 0;
}

int32_t CSocketWriteSome(int32_t handle, const char* data, int32_t length, int32_t* sent) {
  if (sent) *sent = 0;
  SocketSlot* slot = Find(handle);
  if (!slot) return SockioFail(SOCKIO_EHANDLE);
  if (!data || length < 0 || !sent) return SockioFail(SOCKIO_EARGUMENT);
  if (int32_t early = CheckFirstWrite(slot); early != 0) return early;
  size_t count = 0;
  int err = OsTcpSendNow(slot->socket, data, static_cast<size_t>(length), &count);
  *sent = static_cast<int32_t>(count);
  return err == 0 ? 0 : SockioFail(LibraryCode(err));
}

int32_t CSocketReadSome(int32_t handle, char* buffer, int32_t size, int32_t* received) {
  if (received) *received = 0;
  SocketSlot* slot = Find(handle);
  if (!slot) return SockioFail(SOCKIO_EHANDLE);
  if (!buffer || size < 0 || !received) return SockioFail(SOCKIO_EARGUMENT);
  size_t count = 0;
  int err = OsTcpRecvNow(slot->socket, buffer, static_cast<size_t>(size), &count);
  *received = static_cast<int32_t>(count);
  return err == 0 ? 0 : SockioFail(LibraryCode(err));
}

int32_t CSocketWaitAny(SockioWait* items, int32_t count, OsWatch* watch, int32_t timeoutMs, bool* watchReady) {
  if (!watchReady || count < 0 || static_cast<size_t>(count) > OS_WAIT_MAX_SOCKETS || (count > 0 && !items))
    return SockioFail(SOCKIO_EARGUMENT);
  OsWaitSocket sockets[OS_WAIT_MAX_SOCKETS];
  for (int32_t i = 0; i < count; ++i) {
    SocketSlot* slot = Find(items[i].handle);
    if (!slot) return SockioFail(SOCKIO_EHANDLE);
    sockets[i] = OsWaitSocket{slot->socket, items[i].wantRead, items[i].wantWrite};
  }
  int err = OsWaitAny(sockets, static_cast<size_t>(count), watch, static_cast<uint32_t>(timeoutMs < 0 ? 0 : timeoutMs),
                      watchReady);
  for (int32_t i = 0; i < count; ++i) {
    items[i].readable = sockets[i].readable;
    items[i].writable = sockets[i].writable;
  }
  return err == 0 ? 0 : SockioFail(LibraryCode(err));
}
