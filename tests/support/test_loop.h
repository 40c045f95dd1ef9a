// The forwarding loop driven from a test through its hooks (TormelHooks in
// tormel.h): its pauses recorded, held or let pass at once, and a clock that
// moves only while it pauses.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "tormel.h"

// Records the forwarding loop's pauses (its waits with no connection in
// progress) and lets their time pass at once, so a test sees exactly what
// the loop asked for and runs without waiting; or lets the loop wait them
// itself and counts which of them a producer's change ended early. A pause
// may be held: it returns only once released, so that everything a test
// changes meanwhile is there before the loop looks again.
struct PauseRecorder {
  static std::vector<uint32_t> Pauses();
  static size_t Count() { return Pauses().size(); }
  static int Woken();
  // The pause with this number (from 1) returns only once Release is called.
  static void Hold(size_t number);
  // The loop is asked to stop during the pause with this number, so that
  // nothing after it runs, however late a test gets to look.
  static void StopAt(size_t number);
  static void Release();
  static bool Record(void*, uint32_t ms);
  static void Wake(void*);
  // Into hooks; waitForReal: the loop waits its pauses itself.
  static void Install(TormelHooks* hooks, bool waitForReal = false);

  static inline std::mutex mutex;
  static inline std::condition_variable released;
  static inline std::vector<uint32_t> pauses;
  static inline int woken = 0;
  static inline size_t held = 0;
  static inline size_t stopAt = 0;
  static inline bool real = false;
};

// The loop's clock for a test of the backoff: it moves only while the loop
// pauses, by exactly what the loop asked for, and the spread of the delays
// is nil, so that each delay stands as the backoff gives it. At each pause
// it notes how many entries the log TORMEL.LOG in the working folder holds.
struct FakeTime {
  static inline uint64_t now = 0;
  // At each pause: the time, and how many entries the log held.
  static inline std::vector<std::pair<uint64_t, size_t>> looks;
  static uint64_t Clock(void*) { return now; }
  static double NoSpread(void*) { return 0.5; }
  static bool Pause(void*, uint32_t ms);
  static void Install(TormelHooks* hooks);
};
