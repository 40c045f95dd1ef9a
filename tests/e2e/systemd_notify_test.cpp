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
#include <map>
#include <string>

#include "os_service.h"
#include "test_process.h"
#include "test_receiver.h"
#include "test_support.h"
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
  TempDir dir;
  TestReceiver receiver;
  NotifySocket systemd(UniqueAbstractName());
  std::map<std::string, std::string> env{{"TORMEL_RUNTIME_DIR", dir.Path("run")}, {"NOTIFY_SOCKET", systemd.name}};
  std::string params = dir.Path("SOCKIO.INI");

  // A start that fails never reports ready.
  EXPECT_EQ(RunProcess(TORMEL_BIN, {params}, dir.path, env), 1);
  EXPECT_EQ(systemd.Next(0), "");

  WriteFile(params, "KEYINI\r\n[TORMEL]\r\nXFRIP = 127.0.0.1\r\nXFRPORT = " + std::to_string(receiver.port) +
                        "\r\nBUFFDATEI = tormel.buf\r\nLOGDATEI = tormel.log\r\nERRLEVEL = 1000\r\nMAXLOGSIZE = 100\r\n"
                        "TIMEOUT = 1\r\n");
  ChildProcess service = StartProcess(TORMEL_BIN, {params}, dir.path, env);
  ASSERT_EQ(systemd.Next(), "READY=1");
  TestSetEnv("TORMEL_RUNTIME_DIR", env["TORMEL_RUNTIME_DIR"]);
  EXPECT_EQ(TestEventState(TORMEL_START_EVENT_NAME), 1) << "ready before the start event was set";
  TestUnsetEnv("TORMEL_RUNTIME_DIR");
  SendSignal(service, SIGTERM);
  EXPECT_EQ(systemd.Next(), "STOPPING=1");
  EXPECT_EQ(WaitExit(service, std::chrono::seconds(5)), 0);
}

}  // namespace
