// The service manager on POSIX is systemd. It starts the program as it is
// started by hand, so there is nothing to dispatch; a unit of Type=notify
// waits for "READY=1" on the datagram socket named in $NOTIFY_SOCKET before
// it counts the service as started. The protocol is a single datagram and
// needs no library. Services are registered by the unit the package brings.
// A unit with WatchdogSec= gives the service the period in $WATCHDOG_USEC
// and waits for "WATCHDOG=1" on the same socket within each.
#include "os_service.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cstddef>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "os_common.h"
#include "os_unix_robust.h"
#include "text.h"

namespace {

// Sends state to the service manager's notification socket, if there is one.
// A lost notification cannot be helped here: the manager then times the
// start out, which is the report it should get.
void Notify(const char* state) {
  const char* name = getenv("NOTIFY_SOCKET");
  if (name == nullptr || (name[0] != '/' && name[0] != '@')) return;
  size_t length = strlen(name);
  sockaddr_un address{};
  if (length >= sizeof address.sun_path) return;
  address.sun_family = AF_UNIX;
  memcpy(address.sun_path, name, length);
  // "@" names a socket in the abstract namespace, whose name begins with a
  // zero byte and is not terminated.
  if (name[0] == '@') address.sun_path[0] = '\0';
  socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length + (name[0] == '/' ? 1 : 0));

  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  OsUnixRetry([&] { return sendto(fd, state, strlen(state), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address), size); });
  OsUnixClose(fd);
}

// A decimal number without sign or anything around it; one too large for
// 64 bits (held at UINT64_MAX) is none.
bool ParseDecimal(const char* text, uint64_t* value) {
  return text != nullptr && TextIsNumberIn(text, 0, UINT64_MAX - 1, value);
}

// The watchdog systemd asked for, read once: the environment does not
// change while the service runs. Kept by the forwarding loop's thread alone.
struct Watchdog {
  uint32_t intervalMs = 0;  // a quarter of the period; 0: none asked for
  bool told = false;
  uint64_t lastToldMs = 0;
};

Watchdog& TheWatchdog() {
  static Watchdog watchdog = [] {
    Watchdog w;
    // Programs started with the service's environment inherit the
    // variables, but the watchdog watches one process: WATCHDOG_PID names
    // it, and without it the reader is taken to be that process.
    uint64_t pid = 0;
    const char* pidText = getenv("WATCHDOG_PID");
    bool ours = pidText == nullptr || (ParseDecimal(pidText, &pid) && pid == static_cast<uint64_t>(getpid()));
    uint64_t periodUs = 0;
    if (ours && ParseDecimal(getenv("WATCHDOG_USEC"), &periodUs) && periodUs > 0) {
      uint64_t quarterMs = periodUs / 4000;
      w.intervalMs = quarterMs == 0 ? 1 : quarterMs > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(quarterMs);
    }
    return w;
  }();
  return watchdog;
}

}  // namespace

int OsServiceRun(int (*programMain)(const char* commandLine), const char* commandLine) {
  return programMain(commandLine);
}

void OsServiceReportRunning() { Notify("READY=1"); }

void OsServiceReportStopping() { Notify("STOPPING=1"); }

void OsServiceKeepAlive(uint64_t nowMs) {
  Watchdog& w = TheWatchdog();
  if (w.intervalMs == 0 || (w.told && nowMs - w.lastToldMs < w.intervalMs)) return;
  Notify("WATCHDOG=1");
  w.told = true;
  w.lastToldMs = nowMs;
}

uint32_t OsServiceKeepAliveIntervalMs() { return TheWatchdog().intervalMs; }

int OsServiceInstall(const char*, const char*, const char*, const char*) { return OS_SERVICE_UNSUPPORTED; }

int OsServiceUninstall(const char*, unsigned) { return OS_SERVICE_UNSUPPORTED; }

int OsServiceSiblingProgram(const char* program, char* buf, unsigned size) {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n < 0) return errno;
  self[n] = '\0';
  return OsCommonSiblingPath(self, '/', program, "", buf, size) ? 0 : ENAMETOOLONG;
}
