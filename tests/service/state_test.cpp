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

  const StateStation up{.address = "10.1.2.3:6665", .failOperation = "", .lastSuccess = 1700000999000, .delivered = 7};
  const StateStation down{.address = "10.9.9.9:6665", .up = false, .downSince = 1700000100000, .failures = 12,
                          .nextTry = 1700001000000, .failOperation = "CSocketClientOpen", .failCode = -9001,
                          .failAt = 1700000990000, .failed = 12, .files = 2, .pending = 9,
                          .oldestPending = 1700000050000};
  // A blank is no value: the version comes back as "1.0_beta".
  StateRecord r{.pid = 4242, .version = "1.0 beta", .started = 1700000000123, .updated = 1700000999456,
                .delivered = 18446744073709551615ull, .refused = 2, .failed = 3, .connections = 4, .filesRemoved = 5,
                .stations = {up, down}};
  ASSERT_EQ(StateWrite(path.c_str(), r), 0);
  r.delivered = 1;  // written over whole
  ASSERT_EQ(StateWrite(path.c_str(), r), 0);

  StateRecord back;
  ASSERT_EQ(StateRead(path.c_str(), &back), 0);
  StateRecord expected = r;
  expected.version = "1.0_beta";
  EXPECT_TRUE(back == expected) << "every field as written, an empty text empty:\n" << ReadFile(path);
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
  EXPECT_EQ(StateJudge(r), StateCurrency::Current);
  r.ended = true;
  EXPECT_EQ(StateJudge(r), StateCurrency::Ended);
  r.ended = false;
  r.pid = 999999999;  // no such process, and not the holder
  EXPECT_EQ(StateJudge(r), StateCurrency::Other);
  OsMutexRelease(&mutex);
}

}  // namespace
