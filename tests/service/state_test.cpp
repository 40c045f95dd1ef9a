// The state file: what StateWrite writes StateRead gives back, a file that
// is none is refused, and a state speaks for its service only while the
// writer holds the instance.
#include <gtest/gtest.h>

#include <filesystem>

#include "os_process.h"
#include "os_sync.h"
#include "state.h"
#include "test_service.h"
#include "tormel.h"

namespace {

TEST(StateFile, RoundTripAndWhatIsNoStateFile) {
  ServiceFolder folder;
  std::string path;
  ASSERT_EQ(StatePath(&path), 0);
  EXPECT_EQ(path, (std::filesystem::path(folder.dir.Path("run")) / "tormel.state").string());

  StateRecord r;
  r.pid = 4242;
  r.version = "1.0 beta";  // a blank is no value: it comes back as "_"
  r.started = 1700000000123;
  r.updated = 1700000999456;
  r.delivered = 18446744073709551615ull;
  r.refused = 2;
  r.failed = 3;
  r.connections = 4;
  r.filesRemoved = 5;
  StateStation up;
  up.address = "10.1.2.3:6665";
  up.lastSuccess = 1700000999000;
  up.delivered = 7;
  StateStation down;
  down.address = "10.9.9.9:6665";
  down.up = false;
  down.downSince = 1700000100000;
  down.failures = 12;
  down.nextTry = 1700001000000;
  down.failOperation = "CSocketClientOpen";
  down.failCode = -9001;
  down.failAt = 1700000990000;
  down.failed = 12;
  down.files = 2;
  down.pending = 9;
  down.oldestPending = 1700000050000;
  r.stations = {up, down};
  ASSERT_EQ(StateWrite(path.c_str(), r), 0);
  r.delivered = 1;  // written over whole
  ASSERT_EQ(StateWrite(path.c_str(), r), 0);

  StateRecord back;
  ASSERT_EQ(StateRead(path.c_str(), &back), 0);
  EXPECT_EQ(back.pid, 4242);
  EXPECT_EQ(back.version, "1.0_beta");
  EXPECT_EQ(back.started, r.started);
  EXPECT_EQ(back.updated, r.updated);
  EXPECT_FALSE(back.ended);
  EXPECT_EQ(back.delivered, 1u);
  EXPECT_EQ(back.filesRemoved, 5u);
  ASSERT_EQ(back.stations.size(), 2u);
  EXPECT_EQ(back.stations[0].address, "10.1.2.3:6665");
  EXPECT_TRUE(back.stations[0].up);
  EXPECT_EQ(back.stations[0].failOperation, "") << "an empty text stays empty";
  EXPECT_EQ(back.stations[0].lastSuccess, up.lastSuccess);
  const StateStation& d = back.stations[1];
  EXPECT_FALSE(d.up);
  EXPECT_EQ(d.downSince, down.downSince);
  EXPECT_EQ(d.failures, 12u);
  EXPECT_EQ(d.nextTry, down.nextTry);
  EXPECT_EQ(d.failOperation, "CSocketClientOpen");
  EXPECT_EQ(d.failCode, -9001);
  EXPECT_EQ(d.failAt, down.failAt);
  EXPECT_EQ(d.files, 2u);
  EXPECT_EQ(d.pending, 9u);
  EXPECT_EQ(d.oldestPending, down.oldestPending);
  EXPECT_FALSE(FileExists(path + ".new")) << "nothing is left aside";
  if (!TestOnWindows()) {
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read);
  }

  // Keys a later writer adds are passed over; anything else is refused.
  std::string text = ReadFile(path);
  WriteFile(path, text + "later_field=x\n");
  EXPECT_EQ(StateRead(path.c_str(), &back), 0);
  for (const std::string& foreign :
       std::vector<std::string>{"", "tormel-state 2\npid=1\n", "$ a buffer line\r\n", text.substr(0, text.size() - 3),
        text + "pid=many\n", text + "station address=1.2.3.4:1 up=maybe\n", text + "a line with blanks\n"}) {
    WriteFile(path, foreign);
    StateRecord none;
    EXPECT_EQ(StateRead(path.c_str(), &none), -1) << foreign;
  }
  StateRecord none;
  EXPECT_NE(StateRead(folder.dir.Path("missing").c_str(), &none), 0);
}

TEST(StateFile, CurrentOnlyWhileItsWriterHoldsTheInstance) {
  ServiceFolder folder;
  StateRecord r;
  r.pid = OsProcessId();
  EXPECT_EQ(StateJudge(r), StateCurrency::NotRunning) << "killed: nobody holds the mutex";
  OsMutex mutex;
  ASSERT_EQ(OsMutexClaim(TORMEL_MUTEX_NAME, &mutex), 0);
  EXPECT_TRUE(StateIsCurrent(r));
  r.ended = true;
  EXPECT_EQ(StateJudge(r), StateCurrency::Ended);
  r.ended = false;
  r.pid = 999999999;  // no such process, and not the holder
  EXPECT_EQ(StateJudge(r), StateCurrency::Other);
  OsMutexRelease(&mutex);
}

}  // namespace
