// What systemd hears from a unit of Type=notify: "READY=1" once start-up has
// succeeded, "STOPPING=1" when the service begins to stop, and "WATCHDOG=1"
// while it runs when the unit has a watchdog, as datagrams on the socket
// named in $NOTIFY_SOCKET (a path, or "@" for the abstract namespace). A real
// socket here stands in for systemd's; systemd_unit_test.cpp has the real one.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <fstream>
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

constexpr const char* kKeepAlive = "WATCHDOG=1";

// The next datagram that is no keep-alive, or "" when none comes in time.
std::string NextBesidesKeepAlive(NotifySocket& systemd) {
  std::string message;
  while ((message = systemd.Next()) == kKeepAlive) {
  }
  return message;
}

// True once the child is stopped by a signal (state "T" in /proc).
bool IsHeld(const ChildProcess& child) {
  std::ifstream stat("/proc/" + std::to_string(child.pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  size_t end = text.rfind(')');
  return end != std::string::npos && text.compare(end, 3, ") T") == 0;
}

// A folder for the service (ServiceFolder) and a stand-in for systemd's
// socket, named in the programs' environment as systemd names its own.
struct SystemdNotify : ::testing::Test, ServiceFolder {
  SystemdNotify() { env["NOTIFY_SOCKET"] = systemd.name; }

  // A termination request, as systemctl stop sends it: the service says that
  // it stops (keep-alives may come before, where allowed) and ends with 0.
  void ExpectStopsWhenAsked(ChildProcess& service, bool keepAlivesMayCome = false) {
    SendSignal(service, SIGTERM);
    EXPECT_EQ(keepAlivesMayCome ? NextBesidesKeepAlive(systemd) : systemd.Next(), "STOPPING=1");
    EXPECT_EQ(WaitExit(service, std::chrono::seconds(5)), 0);
  }

  NotifySocket systemd{UniqueAbstractName()};
};

TEST_F(SystemdNotify, ReportsReachAPathOrAnAbstractSocket) {
  NotifySocket atPath(dir.Path("notify"));
  TestSetEnv("NOTIFY_SOCKET", atPath.name);
  OsServiceReportRunning();
  EXPECT_EQ(atPath.Next(), "READY=1");

  TestSetEnv("NOTIFY_SOCKET", systemd.name);
  OsServiceReportStopping();
  EXPECT_EQ(systemd.Next(), "STOPPING=1");
  TestUnsetEnv("NOTIFY_SOCKET");
}

// The first call in this process reads the environment, so this is the only
// case here that keeps the service alive in-process.
TEST_F(SystemdNotify, KeepAliveIsToldOncePerQuarterOfThePeriod) {
  NotifySocket atPath(dir.Path("notify"));
  TestSetEnv("NOTIFY_SOCKET", atPath.name);
  TestSetEnv("WATCHDOG_USEC", "4000000");
  TestUnsetEnv("WATCHDOG_PID");
  EXPECT_EQ(OsServiceKeepAliveIntervalMs(), 1000u);
  OsServiceKeepAlive(5000);
  EXPECT_EQ(atPath.Next(0), kKeepAlive) << "the first call tells at once";
  OsServiceKeepAlive(5999);
  EXPECT_EQ(atPath.Next(0), "");
  OsServiceKeepAlive(6000);
  EXPECT_EQ(atPath.Next(0), kKeepAlive);
  TestUnsetEnv("WATCHDOG_USEC");
  TestUnsetEnv("NOTIFY_SOCKET");
}

TEST_F(SystemdNotify, ServiceIsReadyOnlyOnceStartedAndSaysWhenItStops) {
  TestReceiver receiver;
  // A start that fails never reports ready.
  EXPECT_EQ(RunProgram(TORMEL_BIN, {dir.Path("SOCKIO.INI")}), 1);
  EXPECT_EQ(systemd.Next(0), "");

  ChildProcess service = StartProgram(TORMEL_BIN, {WriteParams(receiver.port)});
  ASSERT_EQ(systemd.Next(), "READY=1");
  EXPECT_EQ(TestEventState(TORMEL_START_EVENT_NAME), 1) << "ready before the start event was set";
  ExpectStopsWhenAsked(service);
}

// A period of 400 ms: every pause of the idle loop (500 ms) tells. The
// shell names the process that it becomes in WATCHDOG_PID, as systemd does.
TEST_F(SystemdNotify, KeepAliveComesWhileTheServiceIdlesAndNotWhileItIsHeld) {
  env["WATCHDOG_USEC"] = "400000";
  ChildProcess service =
      StartProgram("/bin/sh", {"-c", "export WATCHDOG_PID=$$; exec \"$0\" \"$1\"", TORMEL_BIN, WriteParams(9)});
  ASSERT_EQ(systemd.Next(), "READY=1");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(systemd.Next(2000), kKeepAlive) << i;

  SendSignal(service, SIGSTOP);
  ASSERT_TRUE(WaitFor([&] { return IsHeld(service); }));
  while (!systemd.Next(0).empty()) {
  }
  EXPECT_EQ(systemd.Next(1500), "") << "told while held";
  SendSignal(service, SIGCONT);
  EXPECT_EQ(systemd.Next(2000), kKeepAlive);
  ExpectStopsWhenAsked(service, true);
}

// WATCHDOG_PID names another process: this one only reports its state.
TEST_F(SystemdNotify, KeepAliveMeantForAnotherProcessIsNotSent) {
  env["WATCHDOG_USEC"] = "400000";
  env["WATCHDOG_PID"] = std::to_string(getpid());
  ChildProcess service = StartProgram(TORMEL_BIN, {WriteParams(9)});
  ASSERT_EQ(systemd.Next(), "READY=1");
  EXPECT_EQ(systemd.Next(1500), "");
  ExpectStopsWhenAsked(service);
}

}  // namespace
