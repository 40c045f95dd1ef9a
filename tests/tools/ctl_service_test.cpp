// tormelctl beside a running service: status, stop, and producers appending
// while the service delivers.
#include <set>

#include "ctl_fixture.h"
#include "test_receiver.h"

namespace {

using WithService = CtlTest;

TEST_F(WithService, StatusThenStopEndsItWithStatus0AndTheEventSetAgain) {
  TestReceiver receiver;
  std::string params = WriteParams(receiver.port);
  // The longest record put accepts reaches the receiver whole.
  std::string longest(491, 'L');
  ASSERT_EQ(Ctl({"put", "--config", params, "--number", "1", "--to", "127.0.0.1", longest}).status, 0);

  ChildProcess service = StartProcess(TORMEL_BIN, {params}, dir.path, env);
  ASSERT_TRUE(WaitFor([&] { return !FileExists(dir.Path("TORMEL1.BUF")); }));
  ASSERT_EQ(receiver.FrameCount(), 1);
  EXPECT_EQ(FrameContent(receiver.Frames()[0]), longest + "\n");

  CtlResult r = Ctl({"status", params});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "instance: running\n"
            "StopTormelEvent: set\n"
            "StartTormelEvent: set\n"
            "buffer files: 0\n");

  // Held open, so that it outlives the service where a kernel event ends
  // with its last handle.
  OsEvent held;
  ASSERT_EQ(OsEventOpen(TORMEL_STOP_EVENT_NAME, &held), 0);
  r = Ctl({"stop"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "stop requested, waiting up to 30 s for the instance to end\nthe instance has ended\n");
  // The instance lets go of its mutex as its last act; the process itself
  // is gone a moment later.
  EXPECT_EQ(WaitExit(service, std::chrono::seconds(5)), 0);
  EXPECT_EQ(EventState(TORMEL_STOP_EVENT_NAME), 1) << "the service's shutdown sets it again";

  r = Ctl({"stop"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "no instance running\n");
  EXPECT_EQ(EventState(TORMEL_STOP_EVENT_NAME), 1) << "left alone without an instance";
  OsEventClose(&held);
}

// An instance that does not end: the test holds the instance mutex itself.
TEST_F(WithService, StopGivesUpAfterItsTimeOut) {
  OsMutex mutex;
  ASSERT_EQ(OsMutexClaim(TORMEL_MUTEX_NAME, &mutex), 0);

  CtlResult r = Ctl({"stop", "--timeout", "0"});
  EXPECT_EQ(r.status, 1) << "running, but no stop event published";
  EXPECT_EQ(r.err.rfind("tormelctl: cannot reach StopTormelEvent: ", 0), 0u) << r.err;

  OsEvent stop;
  ASSERT_EQ(OsEventCreate(TORMEL_STOP_EVENT_NAME, true, &stop), 0);
  r = Ctl({"stop", "--timeout", "1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "stop requested, waiting up to 1 s for the instance to end\n"
            "time-out: the instance still runs after 1 s\n");
  EXPECT_EQ(OsEventIsSet(stop), 0) << "the request stands";
  OsEventClose(&stop);
  OsMutexRelease(&mutex);

  EXPECT_EQ(Ctl({"stop", "--timeout", "soon"}).status, 1);
}

TEST_F(WithService, ConcurrentPutsBesideTheServiceLoseNothing) {
  if (TestOnWindows())
    GTEST_SKIP() << "POSIX only: the producers are shell loops; WindowsService.ProducerKeepingTheBufferFileOpenLosesNothing "
                    "covers producers on Windows";
  TestReceiver receiver;
  std::string params = WriteParams(receiver.port);
  ChildProcess service = StartProcess(TORMEL_BIN, {params}, dir.path, env);
  ASSERT_TRUE(WaitFor([&] { return EventState(TORMEL_START_EVENT_NAME) == 1; }));

  // Three producers, each putting 50 records alternately into files 1 and 2.
  const int kProducers = 3, kRecords = 50;
  const std::string script =
      "i=1; while [ $i -le " + std::to_string(kRecords) +
      " ]; do \"$0\" put --config \"$1\" --number $((i % 2 + 1)) --to 127.0.0.1 \"p$2-$i\" >/dev/null || exit 1;"
      " i=$((i + 1)); done";
  std::vector<ChildProcess> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.push_back(StartProcess("/bin/sh", {"-c", script, TORMELCTL_BIN, params, std::to_string(p)}, dir.path, env));
  }
  for (ChildProcess& p : producers) EXPECT_EQ(WaitExit(p, std::chrono::seconds(60)), 0) << ReadFile(p.errPath);

  std::set<std::string> expected;
  for (int p = 0; p < kProducers; ++p) {
    for (int i = 1; i <= kRecords; ++i) {
      std::string content = "p";
      content += std::to_string(p);
      content += '-';
      content += std::to_string(i);
      content += '\n';
      expected.insert(content);
    }
  }
  auto missing = [&] {
    std::set<std::string> left = expected;
    for (const std::string& frame : receiver.Frames()) left.erase(FrameContent(frame));
    return left;
  };
  if (!WaitFor([&] { return missing().empty(); }, std::chrono::seconds(30))) {
    std::set<std::string> left = missing();
    ADD_FAILURE() << left.size() << " records never arrived, e.g. " << (left.empty() ? "" : *left.begin());
  }
  EXPECT_TRUE(WaitFor([&] { return !FileExists(dir.Path("TORMEL1.BUF")) && !FileExists(dir.Path("TORMEL2.BUF")); }));

  EXPECT_EQ(Ctl({"stop"}).status, 0);
  EXPECT_EQ(WaitExit(service, std::chrono::seconds(5)), 0);
}

}  // namespace
