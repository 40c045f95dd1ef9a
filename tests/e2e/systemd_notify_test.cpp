// What systemd hears from a unit of Type=notify: "READY=1" once start-up has
// succeeded, "STOPPING=1" when the service begins to stop, as datagrams on
// the socket named in $NOTIFY_SOCKET (a path, or "@" for the abstract
// namespace). A real socket here stands in for systemd's.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "os_service.h"
#include "test_receiver.h"
#include "test_service.h"
#include "tormel.h"

namespace {

// A datagram socket bound to name ("@..." abstract, else a path).
struct NotifySocket {
  explicit NotifySocket(const std::string& name) : name(name) {
    fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, name.data(), name.size());
    if (name[0] == '@') address.sun_path[0] = '\0';
    socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0) ADD_FAILURE() << "bind " << name;
  }
  ~NotifySocket() { close(fd); }

  // The next datagram, or "" when none comes within the deadline.
  std::string Next(int deadlineMs = 10000) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, deadlineMs) != 1) return "";
    char buf[256];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
  }

  std::string name;
  int fd = -1;
};

std::string UniqueAbstractName() { return "@tormel-notify-test-" + std::to_string(getpid()); }

TEST(SystemdNotify, ReportsReachAPathOrAnAbstractSocket) {
  TempDir dir;
  NotifySocket atPath(dir.Path("notify"));
  TestSetEnv("NOTIFY_SOCKET", atPath.name);
  OsServiceReportRunning();
  EXPECT_EQ(atPath.Next(), "READY=1");

  NotifySocket abstract(UniqueAbstractName());
  TestSetEnv("NOTIFY_SOCKET", abstract.name);
  OsServiceReportStopping();
  EXPECT_EQ(abstract.Next(), "STOPPING=1");
  TestUnsetEnv("NOTIFY_SOCKET");
}

TEST(SystemdNotify, ServiceIsReadyOnlyOnceStartedAndSaysWhenItStops) {
  ServiceFolder folder;
  TestReceiver receiver;
  NotifySocket systemd(UniqueAbstractName());
  folder.env["NOTIFY_SOCKET"] = systemd.name;
  std::string params = folder.dir.Path("SOCKIO.INI");

  // A start that fails never reports ready.
  EXPECT_EQ(folder.RunProgram(TORMEL_BIN, {params}), 1);
  EXPECT_EQ(systemd.Next(0), "");

  ChildProcess service = folder.StartProgram(TORMEL_BIN, {folder.WriteParams(receiver.port)});
  ASSERT_EQ(systemd.Next(), "READY=1");
  EXPECT_EQ(TestEventState(TORMEL_START_EVENT_NAME), 1) << "ready before the start event was set";
  SendSignal(service, SIGTERM);
  EXPECT_EQ(systemd.Next(), "STOPPING=1");
  EXPECT_EQ(WaitExit(service, std::chrono::seconds(5)), 0);
}

}  // namespace
