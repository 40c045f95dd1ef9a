// SIGKILL at random moments while files are delivered: whatever the moment,
// no record is lost and at most the records in flight are sent twice, one
// with a frame at a time, the whole window with 32 frames in flight, one or
// a window per station when several are served at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <thread>

#include "soak_support.h"

namespace {

constexpr int kRecords = 2000;
constexpr int kKills = 5;

unsigned Seed() {
  const char* chosen = getenv("TORMEL_SOAK_SEED");
  return chosen ? static_cast<unsigned>(strtoul(chosen, nullptr, 10)) : std::random_device{}();
}

// Files 1 to stations, each for a station of its own (127.0.0.1, .2, ...),
// killed five times while they are delivered.
void KillFiveTimes(int window, int stations) {
  unsigned seed = Seed();
  printf("crash seed %u (TORMEL_SOAK_SEED=%u repeats it)\n", seed, seed);
  ::testing::Test::RecordProperty("seed", std::to_string(seed));
  std::mt19937 random(seed);

  std::vector<std::unique_ptr<TestReceiver>> receivers;
  receivers.push_back(std::make_unique<TestReceiver>());
  for (int k = 1; k < stations; ++k)
    receivers.push_back(std::make_unique<TestReceiver>(0x7f000001 + static_cast<uint32_t>(k), receivers[0]->port));
  for (auto& r : receivers) r->delayMs = 1;
  SoakService service(receivers[0]->port, 1, window);
  const int perFile = kRecords / stations;
  for (int k = 0; k < stations; ++k) {
    std::string file, ip = "127.0.0." + std::to_string(k + 1);
    for (int i = 0; i < perFile; ++i) file += BufferLine("file " + std::to_string(k) + " record " + std::to_string(i), '$', ip);
    WriteFile(service.Buffer(k + 1), file);
  }
  auto frames = [&] {
    int n = 0;
    for (auto& r : receivers) n += r->FrameCount();
    return n;
  };
  auto delivered = [&] { return !BufferFileLeft(service.dir.path); };

  // The moments: after a random number of frames, plus a random fraction of
  // the exchange, so that a kill lands before, during and after the marks.
  std::uniform_int_distribution<int> after(1, kRecords - 1);
  std::uniform_int_distribution<int> extraMicros(0, 1500);
  std::vector<int> moments;
  for (int k = 0; k < kKills; ++k) moments.push_back(after(random));
  std::sort(moments.begin(), moments.end());

  service.Start();
  for (int k = 0; k < kKills; ++k) {
    ASSERT_TRUE(WaitFor([&] { return frames() >= moments[k] || delivered(); }, std::chrono::seconds(60)))
        << "kill " << k << " waits for frame " << moments[k] << ", " << frames() << " came";
    std::this_thread::sleep_for(std::chrono::microseconds(extraMicros(random)));
    service.Kill();
    service.Start();
  }
  EXPECT_TRUE(WaitFor(delivered, std::chrono::seconds(60)));
  EXPECT_EQ(service.Stop(), 0);

  std::map<std::string, int> seen;
  for (auto& r : receivers)
    for (const std::string& record : r->Records()) ++seen[record];
  int missing = 0, repeats = 0;
  for (int k = 0; k < stations; ++k) {
    for (int i = 0; i < perFile; ++i) {
      int n = seen["file " + std::to_string(k) + " record " + std::to_string(i)];
      missing += n == 0;
      repeats += n > 1 ? n - 1 : 0;
      EXPECT_LE(n, 1 + kKills) << "file " << k << " record " << i;
    }
  }
  EXPECT_EQ(missing, 0);
  EXPECT_LE(repeats, kKills * window * stations);
  EXPECT_EQ(static_cast<int>(seen.size()), perFile * stations) << "nothing but the files' records arrives";
  EXPECT_EQ(service.Log(), "");
}

TEST(Crash, KilledFiveTimesLosesNothingAndRepeatsAtMostOneRecordPerKill) { KillFiveTimes(1, 1); }

TEST(Crash, KilledFiveTimesWithAWindowRepeatsAtMostTheWindowPerKill) { KillFiveTimes(32, 1); }

TEST(Crash, KilledFiveTimesWithFourStationsAtOnceRepeatsAtMostWhatEachHadInFlight) { KillFiveTimes(4, 4); }

}  // namespace
