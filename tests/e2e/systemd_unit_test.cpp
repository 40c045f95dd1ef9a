// The service as a unit of a real systemd with a watchdog: an idle service
// keeps it content, a wedged one is killed and started afresh. systemd runs
// as PID 1 of namespaces of its own (scripts/systemd-sandbox.sh), torn down
// with the case or, should the case die, once this process has ended. Where
// the machine cannot run it (no root, no systemd, no cgroup v2) the cases
// are skipped and say why.
#include <gtest/gtest.h>

#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "test_process.h"
#include "test_service.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kUnit = "tormel-watchdog.service";
constexpr int kSkipped = 77;  // the sandbox's status where the machine cannot run it

class SystemdUnit : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string err;
    int status = Sandbox({"start", sandbox, std::to_string(getpid())}, nullptr, &err);
    if (status == kSkipped) GTEST_SKIP() << err;
    ASSERT_EQ(status, 0) << err;
    // The system's units would act on this machine (this one empties /tmp).
    std::string loaded;
    Systemctl({"show", "-p", "LoadState", "--value", "systemd-tmpfiles-setup.service"}, &loaded);
    ASSERT_EQ(loaded, "not-found\n") << "the sandbox knows the system's own units";
    // The period is short for the test's sake; the loop idles with pauses
    // of 500 ms, well inside it. Every end of the service is written down.
    WriteFile(sandbox + "/units/" + kUnit,
              "[Unit]\nDefaultDependencies=no\n[Service]\nType=notify\nNotifyAccess=main\n"
              "ExecStart=" TORMEL_BIN " " + folder.WriteParams(9) + "\n"
              "WorkingDirectory=" + folder.dir.path + "\n"
              "Environment=TORMEL_RUNTIME_DIR=" + folder.env["TORMEL_RUNTIME_DIR"] + "\n"
              "WatchdogSec=2\nRestart=on-failure\nRestartSec=1\nLimitCORE=0\n"
              "StandardOutput=null\nStandardError=append:" + folder.dir.Path("stderr") + "\n"
              "ExecStopPost=/bin/sh -c 'echo $$SERVICE_RESULT $$EXIT_CODE $$EXIT_STATUS >>" + Ends() + "'\n");
    ASSERT_EQ(Systemctl({"daemon-reload"}), 0);
  }

  void TearDown() override {
    if (HasFailure()) {
      std::string out;
      Systemctl({"status", kUnit}, &out);
      ADD_FAILURE() << out << "\nsystemd's log:\n" << ReadFile(sandbox + "/systemd.log") << "\nthe service's:\n"
                    << ReadFile(folder.dir.Path("stderr")) << folder.Log();
    }
    Sandbox({"stop", sandbox});
  }

  int Sandbox(std::vector<std::string> args, std::string* out = nullptr, std::string* err = nullptr) {
    args.insert(args.begin(), TORMEL_SYSTEMD_SANDBOX);
    return RunProcess("/bin/bash", args, folder.dir.path, {}, out, err, 60s);
  }

  int Systemctl(std::vector<std::string> args, std::string* out = nullptr) {
    args.insert(args.begin(), {"run", sandbox, "30", "systemctl", "--no-pager"});
    return Sandbox(args, out);
  }

  // The unit's properties of interest, as systemctl shows them.
  std::map<std::string, std::string> Unit() {
    std::string out;
    Systemctl({"show", "-p", "ActiveState,SubState,MainPID,NRestarts,WatchdogTimestampMonotonic", kUnit}, &out);
    std::map<std::string, std::string> properties;
    for (const std::string& line : TextLines(out)) {
      size_t equals = line.find('=');
      if (equals != std::string::npos) properties[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return properties;
  }

  // Polls the unit every 100 ms (each look starts systemctl) until
  // condition holds; false when the deadline passed first.
  bool WaitForUnit(const std::function<bool(std::map<std::string, std::string>&)>& condition,
                   std::chrono::milliseconds deadline) {
    return WaitFor(
        [&] {
          auto unit = Unit();
          if (condition(unit)) return true;
          std::this_thread::sleep_for(100ms);
          return false;
        },
        deadline);
  }

  // How each run of the service ended: result, exit code, status.
  std::string Ends() const { return folder.dir.Path("ends"); }
  std::vector<std::string> EndsSoFar() const { return FileExists(Ends()) ? TextLines(ReadFile(Ends())) : std::vector<std::string>{}; }

  ServiceFolder folder;
  std::string sandbox = folder.dir.Path("systemd");
};

bool Running(std::map<std::string, std::string>& unit) {
  return unit["ActiveState"] == "active" && unit["SubState"] == "running";
}

// No buffer files at all: the loop only probes and pauses, and tells
// systemd that it is alive from its pauses too.
TEST_F(SystemdUnit, IdleServiceStaysActivePastSeveralWatchdogPeriods) {
  ASSERT_EQ(Systemctl({"start", kUnit}), 0);
  auto started = Unit();
  ASSERT_TRUE(Running(started));
  std::set<std::string> keepAlives;
  bool disturbed = WaitForUnit(
      [&](std::map<std::string, std::string>& unit) {
        keepAlives.insert(unit["WatchdogTimestampMonotonic"]);
        return !Running(unit) || unit["MainPID"] != started["MainPID"] || unit["NRestarts"] != "0";
      },
      8s);
  EXPECT_FALSE(disturbed) << "within four periods";
  EXPECT_GE(keepAlives.size(), 5u) << "keep-alives seen by systemd";

  ASSERT_EQ(Systemctl({"stop", kUnit}), 0);
  EXPECT_EQ(EndsSoFar(), std::vector<std::string>{"success exited 0"});
}

// A loop that no longer runs (SIGSTOP) sends no keep-alive: systemd kills
// the process at the end of the period (SIGABRT) and starts a new one.
TEST_F(SystemdUnit, WedgedServiceIsKilledByTheWatchdogAndRestarted) {
  ASSERT_EQ(Systemctl({"start", kUnit}), 0);
  std::string wedged = Unit()["MainPID"];
  ASSERT_EQ(Systemctl({"kill", "--kill-whom=main", "--signal=SIGSTOP", kUnit}), 0);
  EXPECT_TRUE(WaitForUnit(
      [&](std::map<std::string, std::string>& unit) {
        return Running(unit) && unit["NRestarts"] == "1" && unit["MainPID"] != wedged && unit["MainPID"] != "0";
      },
      15s));
  EXPECT_EQ(EndsSoFar(), std::vector<std::string>{"watchdog killed ABRT"});

  ASSERT_EQ(Systemctl({"stop", kUnit}), 0);
  EXPECT_EQ(EndsSoFar(), (std::vector<std::string>{"watchdog killed ABRT", "success exited 0"}));
}

}  // namespace
