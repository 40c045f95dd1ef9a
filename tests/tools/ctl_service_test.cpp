// tormelctl beside a running service: put, status and stop.
#include <future>
#include <thread>

#include "buffile.h"
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

  ChildProcess service = StartProgram(TORMEL_BIN, {params});
  // Gone whole: its retired name too, once its mark is on the disk.
  ASSERT_TRUE(WaitFor([&] { return BufListFolder(dir.Path("TORMEL").c_str()).empty(); }));
  ASSERT_EQ(receiver.FrameCount(), 1);
  EXPECT_EQ(FrameContent(receiver.Frames()[0]), longest + "\n");

  CtlResult r = Ctl({"status", params});
  EXPECT_EQ(r.status, 0) << r.err;
  // Then the published state, the stations (ctl_state_test.cpp), and the files.
  EXPECT_EQ(r.out.rfind("instance: running\n"
                        "StopTormelEvent: set\n"
                        "StartTormelEvent: set\n"
                        "service: pid ",
                        0),
            0u)
      << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - std::min<size_t>(r.out.size(), 17)), "\nbuffer files: 0\n") << r.out;

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
  EXPECT_EQ(TestEventState(TORMEL_STOP_EVENT_NAME), 1) << "the service's shutdown sets it again";

  r = Ctl({"stop"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "no instance running\n");
  EXPECT_EQ(TestEventState(TORMEL_STOP_EVENT_NAME), 1) << "left alone without an instance";
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

// stop waits its whole time-out: an instance (the test holds its mutex and
// its stop event) that takes a second and a half to end is seen to end.
TEST_F(WithService, StopWaitsForAnInstanceThatTakesItsTime) {
  OsMutex mutex;
  ASSERT_EQ(OsMutexClaim(TORMEL_MUTEX_NAME, &mutex), 0);
  OsEvent stop;
  ASSERT_EQ(OsEventCreate(TORMEL_STOP_EVENT_NAME, true, &stop), 0);
  auto result = std::async(std::launch::async, [&] { return Ctl({"stop", "--timeout", "5"}); });
  ASSERT_TRUE(WaitFor([&] { return OsEventIsSet(stop) == 0; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the instance's shutdown
  OsEventSet(stop);
  OsMutexRelease(&mutex);
  CtlResult r = result.get();
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "stop requested, waiting up to 5 s for the instance to end\nthe instance has ended\n");
  OsEventClose(&stop);
}

// The state the service publishes shows a station that refuses as down,
// health warns of it, and says all is well once it is back; a service that
// has stopped is critical.
TEST_F(WithService, PublishedStateShowsADownStationUntilItIsBack) {
  TestReceiver receiver;
  receiver.RefuseConnections(true);
  std::string params = WriteParams(receiver.port);
  ASSERT_EQ(Ctl({"put", "--config", params, "--number", "1", "--to", "127.0.0.1", "waits"}).status, 0);
  ChildProcess service = StartProgram(TORMEL_BIN, {params});
  ASSERT_TRUE(WaitReady(service));
  std::string state;
  ASSERT_EQ(StatePath(&state), 0);
  ASSERT_TRUE(WaitFor([&] { return FileExists(state); })) << state;

  // status --json is compact: a station's state follows its address.
  const std::string station = "\"address\":\"127.0.0.1:" + std::to_string(receiver.port) + "\",\"state\":\"";
  CtlResult r;
  EXPECT_TRUE(WaitFor([&] {
    r = Ctl({"status", "--json", params});
    size_t at = r.out.find(station);
    return r.out.find("\"state\":\"current\"") != std::string::npos && at != std::string::npos &&
           r.out.compare(at + station.size(), 3, "up\"") != 0;
  })) << r.out;
  EXPECT_NE(r.out.find("\"operation\":\"CSocketClientOpen\""), std::string::npos) << r.out;
  EXPECT_TRUE(WaitFor([&] {
    r = Ctl({"health", "--max-down", "1"});
    return r.status == 1;
  })) << r.out;
  EXPECT_EQ(r.out.rfind("TORMEL WARNING - station 127.0.0.1:" + std::to_string(receiver.port) + " is down since ", 0),
            0u)
      << r.out;

  receiver.RefuseConnections(false);
  EXPECT_TRUE(WaitFor([&] { return receiver.FrameCount() == 1 && Ctl({"health", "--max-down", "1"}).status == 0; }));
  EXPECT_EQ(Stop(service), 0);
  r = Ctl({"health"});
  EXPECT_EQ(r.status, 2) << r.out;
}

}  // namespace
