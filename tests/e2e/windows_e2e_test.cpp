// The service on Windows end to end: its instance mutex and stop event as
// kernel objects, and buffer files shared with producers that keep them
// open. On POSIX the same ground is covered by service_e2e_test.cpp.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>

#include "os_file.h"
#include "os_sync.h"
#include "test_process.h"
#include "test_receiver.h"
#include "test_support.h"
#include "tormel.h"

namespace {

std::string Record(const std::string& content) {
  return "$" + std::string(37, ' ') + "127.0.0.1      " + std::string(5, ' ') + content + "\r\n";
}

struct WindowsService : ::testing::Test {
  std::string WriteParams(uint16_t port) {
    std::string path = dir.Path("SOCKIO.INI");
    WriteFile(path, "KEYINI\r\n[TORMEL]\r\nXFRIP = 127.0.0.1\r\nXFRPORT = " + std::to_string(port) +
                        "\r\nBUFFDATEI = tormel.buf\r\nLOGDATEI = tormel.log\r\nERRLEVEL = 1000\r\nMAXLOGSIZE = 100\r\n"
                        "TIMEOUT = 1\r\n");
    return path;
  }

  bool Started() {
    OsEvent ev;
    if (OsEventOpen(TORMEL_START_EVENT_NAME, &ev) != 0) return false;
    bool set = OsEventIsSet(ev) == 1;
    OsEventClose(&ev);
    return set;
  }

  int CtlStop() { return RunProcess(TORMELCTL_BIN, {"stop", "--timeout", "20"}, dir.path, {}); }

  TempDir dir;
};

TEST_F(WindowsService, HeldInstanceMutexRefusesTheServiceWithStatus2) {
  OsMutex held;
  ASSERT_EQ(OsMutexClaim(TORMEL_MUTEX_NAME, &held), 0);
  std::string err;
  EXPECT_EQ(RunProcess(TORMEL_BIN, {WriteParams(1)}, dir.path, {}, nullptr, &err), 2);
  EXPECT_EQ(err, "tormel: another instance is running\n");
  EXPECT_FALSE(FileExists(dir.Path("tormel.log"))) << "a refused instance opens nothing";
  OsMutexRelease(&held);
}

TEST_F(WindowsService, CtlStopEndsTheServiceThroughTheNamedEvent) {
  TestReceiver receiver;
  ChildProcess service = StartProcess(TORMEL_BIN, {WriteParams(receiver.port)}, dir.path);
  ASSERT_TRUE(WaitFor([&] { return Started(); }));
  EXPECT_EQ(OsMutexIsHeld(TORMEL_MUTEX_NAME), 1);
  // The event is held open here, so its state outlives the service.
  OsEvent stop;
  ASSERT_EQ(OsEventOpen(TORMEL_STOP_EVENT_NAME, &stop), 0);
  EXPECT_EQ(CtlStop(), 0);
  EXPECT_EQ(WaitExit(service, std::chrono::seconds(10)), 0);
  EXPECT_EQ(OsEventIsSet(stop), 1) << "shutdown sets the stop event again";
  OsEventClose(&stop);
  EXPECT_EQ(OsMutexIsHeld(TORMEL_MUTEX_NAME), 0);
}

TEST_F(WindowsService, ProducerKeepingTheBufferFileOpenLosesNothing) {
  TestReceiver receiver;
  ChildProcess service = StartProcess(TORMEL_BIN, {WriteParams(receiver.port)}, dir.path);
  ASSERT_TRUE(WaitFor([&] { return Started(); }));

  // The producer keeps its handle (shared for reading, writing and removal)
  // between records and follows the locked-append protocol: lock, make sure
  // the locked file is still the one at the path, else open it anew.
  const std::string path = dir.Path("TORMEL1.BUF");
  constexpr int kRecords = 60;
  OsFile f;
  for (int i = 0; i < kRecords; ++i) {
    for (;;) {
      if (f.handle == -1) {
        ASSERT_EQ(OsFileOpenAppend(path.c_str(), &f), 0) << "record " << i;
      }
      ASSERT_EQ(OsFileLock(f), 0);
      bool current = false;
      ASSERT_EQ(OsFileIsAtPath(f, path.c_str(), &current), 0);
      if (current) break;
      OsFileClose(&f);
    }
    std::string line = Record("record " + std::to_string(i));
    ASSERT_EQ(OsFileAppend(f, line.data(), line.size()), 0);
    ASSERT_EQ(OsFileUnlock(f), 0);
    if (i % 7 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(150));
  }
  EXPECT_TRUE(WaitFor([&] { return receiver.FrameCount() >= kRecords; }, std::chrono::seconds(30)));
  OsFileClose(&f);
  EXPECT_TRUE(WaitFor([&] { return !FileExists(path); }, std::chrono::seconds(10)));
  EXPECT_EQ(CtlStop(), 0);
  EXPECT_EQ(WaitExit(service, std::chrono::seconds(10)), 0);

  std::map<std::string, int> seen;
  for (const std::string& frame : receiver.Frames()) ++seen[FrameContent(frame)];
  for (int i = 0; i < kRecords; ++i) EXPECT_EQ(seen["record " + std::to_string(i) + "\n"], 1) << "record " << i;
}

}  // namespace
