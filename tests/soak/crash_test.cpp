// SIGKILL at random moments while a file is delivered: whatever the moment,
// no record is lost and at most the records in flight are sent twice, one
// with a frame at a time, the whole window with 32 frames in flight.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
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

void KillFiveTimes(int window) {
  unsigned seed = Seed();
  printf("crash seed %u (TORMEL_SOAK_SEED=%u repeats it)\n", seed, seed);
  ::testing::Test::RecordProperty("seed", std::to_string(seed));
  std::mt19937 random(seed);

  TestReceiver receiver;
  receiver.delayMs = 1;
  SoakService service(receiver.port, 1, window);
  std::string file;
  for (int i = 0; i < kRecords; ++i) file += BufferLine("record " + std::to_string(i));
  WriteFile(service.Buffer(1), file);

  // The moments: after a random number of frames, plus a random fraction of
  // the exchange, so that a kill lands before, during and after the marks.
  std::uniform_int_distribution<int> frames(1, kRecords - 1);
  std::uniform_int_distribution<int> extraMicros(0, 1500);
  std::vector<int> after;
  for (int k = 0; k < kKills; ++k) after.push_back(frames(random));
  std::sort(after.begin(), after.end());

  service.Start();
  for (int k = 0; k < kKills; ++k) {
    ASSERT_TRUE(WaitFor([&] { return receiver.FrameCount() >= after[k] || !FileExists(service.Buffer(1)); },
                        std::chrono::seconds(60)))
        << "kill " << k << " waits for frame " << after[k] << ", " << receiver.FrameCount() << " came";
    std::this_thread::sleep_for(std::chrono::microseconds(extraMicros(random)));
    service.Kill();
    service.Start();
  }
  EXPECT_TRUE(WaitFor([&] { return !FileExists(service.Buffer(1)); }, std::chrono::seconds(60)));
  EXPECT_EQ(service.Stop(), 0);

  std::map<std::string, int> seen;
  for (const std::string& r : receiver.Records()) ++seen[r];
  int missing = 0, repeats = 0;
  for (int i = 0; i < kRecords; ++i) {
    int n = seen["record " + std::to_string(i)];
    missing += n == 0;
    repeats += n > 1 ? n - 1 : 0;
    EXPECT_LE(n, 1 + kKills) << "record " << i;
  }
  EXPECT_EQ(missing, 0);
  EXPECT_LE(repeats, kKills * window);
  EXPECT_EQ(static_cast<int>(seen.size()), kRecords) << "nothing but the file's records arrives";
  EXPECT_EQ(service.Log(), "");
}

TEST(Crash, KilledFiveTimesLosesNothingAndRepeatsAtMostOneRecordPerKill) { KillFiveTimes(1); }

TEST(Crash, KilledFiveTimesWithAWindowRepeatsAtMostTheWindowPerKill) { KillFiveTimes(32); }

}  // namespace
