// What every tormelctl suite needs: a fresh folder that is the programs'
// working folder, with a fresh runtime folder for the named objects
// (ServiceFolder), and a way to run tormelctl there.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "os_process.h"
#include "os_sync.h"
#include "state.h"
#include "test_service.h"
#include "tormel.h"

struct CtlResult {
  int status = -1;
  std::string out;
  std::string err;
};

struct CtlTest : ::testing::Test, ServiceFolder {
  CtlResult Ctl(const std::vector<std::string>& args) {
    CtlResult r;
    r.status = RunProgram(TORMELCTL_BIN, args, &r.out, &r.err);
    return r;
  }
};

// A service's published state, as the test writes it itself: the real file
// that the real tormelctl reads. Times are milliseconds before now.
struct StateTest : CtlTest {
  uint64_t Ago(uint64_t seconds) const { return now - seconds * 1000; }
  // Two stations, both up, one with a record waiting for 30 s, written by
  // this process.
  StateRecord Sample() const {
    StateRecord r;
    r.pid = OsProcessId();
    r.version = "1.0";
    r.started = Ago(7200);
    r.updated = Ago(1);
    r.delivered = 120;
    r.refused = 3;
    r.failed = 5;
    r.connections = 17;
    r.filesRemoved = 11;
    StateStation a;
    a.address = "10.1.2.3:6665";
    a.lastSuccess = Ago(2);
    a.delivered = 100;
    a.refused = 3;
    a.files = 1;
    a.pending = 4;
    a.oldestPending = Ago(30);
    StateStation b;
    b.address = "10.9.9.9:6665";
    b.lastSuccess = Ago(3000);
    b.delivered = 20;
    b.failed = 5;
    r.stations = {a, b};
    return r;
  }
  // Station b down since `since`, in backoff until nextTry.
  static void Down(StateRecord* r, uint64_t since, uint64_t failAt, uint64_t nextTry) {
    StateStation& b = r->stations[1];
    b.up = false;
    b.downSince = since;
    b.failures = 5;
    b.nextTry = nextTry;
    b.failOperation = "CSocketClientOpen";
    b.failCode = 111;
    b.failAt = failAt;
  }
  void Publish(const StateRecord& r) {
    std::string path;
    ASSERT_EQ(StatePath(&path), 0);
    ASSERT_EQ(StateWrite(path.c_str(), r), 0);
  }
  // The instance mutex, held by this process as a running service holds it.
  void Run() { ASSERT_EQ(OsMutexClaim(TORMEL_MUTEX_NAME, &mutex), 0); }
  ~StateTest() override { OsMutexRelease(&mutex); }

  // A moment in this machine's time zone, as tormelctl writes it.
  static std::string CtlTime(uint64_t ms) {
    time_t seconds = static_cast<time_t>(ms / 1000);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", localtime(&seconds));
    return text;
  }
  // True when text holds line(late) for a late of 0 to 3 seconds: ages grow
  // by the time tormelctl takes to start after the test took `now`.
  // The ages tormelctl prints grow with the time since now was read: under
  // Wine on a loaded machine, several seconds.
  bool HasSoon(const std::string& text, const std::function<std::string(int late)>& line) const {
    const uint64_t wall = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
    const int elapsed = static_cast<int>((wall - now) / 1000) + 1;
    for (int late = 0; late <= elapsed; ++late)
      if (text.find(line(late)) != std::string::npos) return true;
    return false;
  }

  uint64_t now = static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count());
  OsMutex mutex;
};
