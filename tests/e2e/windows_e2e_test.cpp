// The service on Windows end to end: its instance mutex and stop event as
// kernel objects, and buffer files shared with producers that keep them
// open. On POSIX the same ground is covered by service_e2e_test.cpp.
#include <map>
#include <string>
#include <thread>

#include "os_file.h"
#include "service_fixture.h"

namespace {

struct WindowsService : Service {
  int CtlStop() { return RunProgram(TORMELCTL_BIN, {"stop", "--timeout", "20"}); }
};

TEST_F(WindowsService, HeldInstanceMutexRefusesTheServiceWithStatus2) {
  OsMutex held;
  ASSERT_EQ(OsMutexClaim(TORMEL_MUTEX_NAME, &held), 0);
  std::string err;
  EXPECT_EQ(RunProgram(TORMEL_BIN, {WriteParams(1)}, nullptr, &err), 2);
  EXPECT_EQ(err, "tormel: another instance is running\n");
  EXPECT_FALSE(FileExists(dir.Path("tormel.log"))) << "a refused instance opens nothing";
  OsMutexRelease(&held);
}

TEST_F(WindowsService, CtlStopEndsTheServiceThroughTheNamedEvent) {
  TestReceiver receiver;
  ChildProcess service = Start({WriteParams(receiver.port)});
  ASSERT_TRUE(WaitReady(service));
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
  ChildProcess service = Start({WriteParams(receiver.port)});
  ASSERT_TRUE(WaitReady(service));

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
    std::string line = BufferLine("record " + std::to_string(i));
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
