// Power cuts at random moments on the power-cut file system: producers
// calling the real tormelctl put beside the real service, both killed at
// once and the file system's page cache dropped, the service started again
// on what survived, round after round, and at the end left to drain it
// all. No record whose put said it was done may be lost. A cut may repeat
// records whose marks had not reached the disk: at most those the receiver
// took in the last second before the cut, and the window in flight.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "powercut_fixture.h"
#include "test_receiver.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 20;
constexpr int kProducers = 3;
constexpr int kFileNumbers = 3;
constexpr int kWindow = 1;

using PowerCutSoak = PowerCutTest;

// Producers that keep calling tormelctl put until the power goes; a record
// is confirmed when its put ended with status 0.
struct Producers {
  std::mutex mutex;
  bool power = true;
  std::vector<int> running = std::vector<int>(kProducers, -1);  // the put each producer waits for
  std::set<std::string> confirmed;
  std::vector<std::string> failures;
};

void Produce(ServiceFolder* folder, const std::string& params, Producers* p, int round, int producer) {
  std::mt19937 random(static_cast<unsigned>(round * kProducers + producer));
  for (int i = 0;; ++i) {
    std::string record = "round " + std::to_string(round) + " producer " + std::to_string(producer) + " record " +
                         std::to_string(i);
    std::string number = std::to_string(1 + random() % kFileNumbers);
    ChildProcess put;
    {
      std::lock_guard<std::mutex> lock(p->mutex);
      if (!p->power) return;
      put = folder->StartProgram(TORMELCTL_BIN,
                                 {"put", "--config", params, "--number", number, "--to", "127.0.0.1", record});
      p->running[producer] = put.pid;
    }
    int status = WaitExit(put);
    std::string err = ReadFile(put.errPath);
    std::filesystem::remove(put.outPath);
    std::filesystem::remove(put.errPath);
    std::lock_guard<std::mutex> lock(p->mutex);
    p->running[producer] = -1;
    if (status == 0) p->confirmed.insert(record);
    if (status != 0 && status != 128 + SIGKILL) p->failures.push_back(record + ": " + err);
  }
}

TEST_F(PowerCutSoak, NoConfirmedRecordIsLostAndCutsRepeatFew) {
  std::mutex timesMutex;
  std::vector<Clock::time_point> answeredAt;  // by frame
  TestReceiver receiver([&](int) {
    std::lock_guard<std::mutex> lock(timesMutex);
    answeredAt.push_back(Clock::now());
    return Reply::Ack;
  });
  std::string params = WriteParams(receiver.port, "TIMEOUT = 1\r\nWINDOW = " + std::to_string(kWindow) +
                                                      "\r\nMAXLOGSIZE = 10000\r\nBUFFDATEI = disk/TORMEL.BUF\r\n");
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  Producers producers;
  std::vector<Clock::time_point> cutAt;

  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round) + ", seed " + std::to_string(seed));
    ChildProcess service = StartProgram(TORMEL_BIN, {params});
    ASSERT_TRUE(WaitReady(service)) << Log();
    producers.power = true;
    std::vector<std::thread> threads;
    for (int p = 0; p < kProducers; ++p) threads.emplace_back(Produce, this, params, &producers, round, p);
    std::this_thread::sleep_for(std::chrono::milliseconds(300 + random() % 1000));
    {
      std::lock_guard<std::mutex> lock(producers.mutex);
      producers.power = false;
      SendSignal(service, SIGKILL);
      for (int pid : producers.running)
        if (pid > 0) kill(pid, SIGKILL);
    }
    cutAt.push_back(Clock::now());
    WaitExit(service);
    for (std::thread& t : threads) t.join();
    ASSERT_TRUE(disk->Cut()) << disk->failure;
  }

  // What survived the last cut drains.
  ChildProcess service = StartProgram(TORMEL_BIN, {params});
  ASSERT_TRUE(WaitReady(service)) << Log();
  auto allConfirmedArrived = [&] {
    std::vector<std::string> records = receiver.Records();
    std::set<std::string> received(records.begin(), records.end());
    return std::includes(received.begin(), received.end(), producers.confirmed.begin(), producers.confirmed.end());
  };
  EXPECT_TRUE(WaitFor([&] { return allConfirmedArrived() && !BufferFileLeft(disk->path); }, 30s))
      << "a buffer file, or a retired one, is left";
  EXPECT_EQ(Stop(service), 0);

  std::vector<std::string> records = receiver.Records();
  std::vector<Clock::time_point> times;
  {
    std::lock_guard<std::mutex> lock(timesMutex);
    times = answeredAt;
  }
  ASSERT_EQ(times.size(), records.size());

  // Each repeat belongs to the last cut before it came.
  std::vector<int> repeats(kRounds, 0), bound(kRounds, kWindow);
  int repeatsWithoutCut = 0;
  std::set<std::string> seen;
  for (size_t n = 0; n < records.size(); ++n) {
    auto after = std::upper_bound(cutAt.begin(), cutAt.end(), times[n]);
    if (after != cutAt.end() && *after - times[n] <= 1s) ++bound[after - cutAt.begin()];
    if (seen.insert(records[n]).second) continue;
    if (after == cutAt.begin()) {
      ++repeatsWithoutCut;
    } else {
      ++repeats[after - cutAt.begin() - 1];
    }
  }
  std::vector<std::string> lost;
  std::set_difference(producers.confirmed.begin(), producers.confirmed.end(), seen.begin(), seen.end(),
                      std::back_inserter(lost));
  int totalRepeats = repeatsWithoutCut, totalBound = 0, roundsOverBound = 0;
  for (int r = 0; r < kRounds; ++r) {
    totalRepeats += repeats[r];
    totalBound += bound[r];
    roundsOverBound += repeats[r] > bound[r] ? 1 : 0;
    printf("round %2d: %4d repeated, bound %3d%s\n", r, repeats[r], bound[r], repeats[r] > bound[r] ? " (over)" : "");
  }
  printf("power-cut soak: %d rounds, %zu confirmed, %zu lost, %zu received, %d repeats (bound %d, %d rounds over it, "
         "%d without a cut), seed %u\n",
         kRounds, producers.confirmed.size(), lost.size(), seen.size(), totalRepeats, totalBound, roundsOverBound,
         repeatsWithoutCut, seed);

  EXPECT_TRUE(producers.failures.empty()) << producers.failures.size() << " puts failed, the first: "
                                          << producers.failures.front();
  EXPECT_TRUE(lost.empty()) << lost.size() << " confirmed records lost, the first: " << lost.front();
  EXPECT_GT(producers.confirmed.size(), size_t(kRounds)) << "the producers hardly got anything done";
  EXPECT_EQ(repeatsWithoutCut, 0);
  // The marks are synced at least once a second: a cut repeats at most what
  // was acknowledged in the last second, and the frames in flight.
  for (int r = 0; r < kRounds; ++r) EXPECT_LE(repeats[r], bound[r]) << "round " << r;
}

}  // namespace
