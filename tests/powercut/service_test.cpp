// The service on the power-cut file system: a file whose marks cannot be
// made durable stops, and waits until they can.
#include <signal.h>

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "powercut_fixture.h"
#include "test_receiver.h"

namespace {

using ServiceOnDisk = PowerCutTest;

// The syncs fail a second into a delivery: no further frame leaves for the
// file, it is kept and the failure logged once; its next turns make no
// connection while the syncs still fail; once they work, the rest goes,
// and nothing the receiver acknowledged goes twice.
TEST_F(ServiceOnDisk, FileWhoseMarksCannotBeSyncedStopsAndWaits) {
  TestReceiver receiver;
  receiver.delayMs = 300;
  std::string file;
  for (int i = 0; i < 10; ++i) file += BufferLine("record " + std::to_string(i));
  WriteFile(disk->Path("TORMEL1.BUF"), file);
  ASSERT_TRUE(disk->FailSyncs(true));
  ChildProcess service = StartProgram(TORMEL_BIN, {WriteParams(receiver.port, "TIMEOUT = 1\r\nBUFFDATEI = disk/TORMEL.BUF\r\n")});
  const std::string failure = "message=\"Fehler: Markierungen in Xfr-Bufferdatei Nr. 1 sichern (fsync)!\"";
  ASSERT_TRUE(WaitFor([&] { return Log().find(failure) != std::string::npos; }));
  const int sent = receiver.FrameCount();
  EXPECT_LT(sent, 10);
  std::this_thread::sleep_for(std::chrono::seconds(5));  // a round of the walk, the syncs still failing
  EXPECT_EQ(receiver.FrameCount(), sent);
  EXPECT_EQ(receiver.Connections(), 1);
  EXPECT_TRUE(FileExists(disk->Path("TORMEL1.BUF")));

  ASSERT_TRUE(disk->FailSyncs(false));
  EXPECT_TRUE(WaitFor([&] { return !FileExists(disk->Path("TORMEL1.BUF")); }, std::chrono::seconds(20)));
  EXPECT_EQ(Stop(service), 0);
  EXPECT_EQ(receiver.FrameCount(), 10);
  std::string log = Log();
  EXPECT_EQ(log.find(failure), log.rfind(failure)) << "logged once: " << log;
}

// A power cut while a long file drains repeats at most the records
// acknowledged in the last second before it and the one in flight: the
// marks are made durable once a second, not only when the file is done.
TEST_F(ServiceOnDisk, PowerCutDuringALongDeliveryRepeatsAtMostTheLastSecond) {
  using Clock = std::chrono::steady_clock;
  std::mutex mutex;
  std::vector<Clock::time_point> came;
  TestReceiver receiver([&](int) {
    std::lock_guard<std::mutex> lock(mutex);
    came.push_back(Clock::now());
    return Reply::Ack;
  });
  receiver.delayMs = 100;
  std::string params = WriteParams(receiver.port, "TIMEOUT = 1\r\nBUFFDATEI = disk/TORMEL.BUF\r\n");
  for (int i = 0; i < 40; ++i) {
    std::string err;
    ASSERT_EQ(RunProgram(TORMELCTL_BIN, {"put", "--config", params, "--number", "1", "--to", "127.0.0.1",
                                         "record " + std::to_string(i)}, nullptr, &err), 0) << err;
  }
  ChildProcess service = StartProgram(TORMEL_BIN, {params});
  ASSERT_TRUE(WaitFor([&] { return receiver.FrameCount() >= 25; }, std::chrono::seconds(20)));
  SendSignal(service, SIGKILL);
  const Clock::time_point cut = Clock::now();
  WaitExit(service);
  ASSERT_TRUE(disk->Cut()) << disk->failure;
  int lastSecond = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (Clock::time_point t : came) lastSecond += cut - t <= std::chrono::seconds(1) ? 1 : 0;
  }

  service = StartProgram(TORMEL_BIN, {params});
  EXPECT_TRUE(WaitFor([&] { return !FileExists(disk->Path("TORMEL1.BUF")); }, std::chrono::seconds(30)));
  EXPECT_EQ(Stop(service), 0);
  std::map<std::string, int> seen;
  for (const std::string& record : receiver.Records()) ++seen[record];
  int repeats = 0;
  for (const auto& [record, n] : seen) repeats += n - 1;
  EXPECT_EQ(seen.size(), 40u);
  EXPECT_LE(repeats, lastSecond + 1) << "of " << receiver.FrameCount() << " frames";
}

// Delivered files go without a sync of their own: their removals are made
// durable together within a second, so a cut after that brings none back.
TEST_F(ServiceOnDisk, RemovalsSurviveACutASecondLater) {
  TestReceiver receiver;
  std::string params = WriteParams(receiver.port, "BUFFDATEI = disk/TORMEL.BUF\r\n");
  for (int n = 1; n <= 5; ++n) {
    std::string err;
    ASSERT_EQ(RunProgram(TORMELCTL_BIN, {"put", "--config", params, "--number", std::to_string(n), "--to",
                                         "127.0.0.1", "record " + std::to_string(n)}, nullptr, &err), 0) << err;
  }
  ChildProcess service = StartProgram(TORMEL_BIN, {params});
  ASSERT_TRUE(WaitFor([&] { return receiver.FrameCount() == 5 && !BufferFileLeft(disk->path); }));
  std::this_thread::sleep_for(std::chrono::seconds(2));  // the promised second, and one for a loaded machine
  SendSignal(service, SIGKILL);
  WaitExit(service);
  ASSERT_TRUE(disk->Cut()) << disk->failure;
  EXPECT_FALSE(BufferFileLeft(disk->path)) << "a delivered file came back";
}

}  // namespace
