#include "test_loop.h"

#include "os_sync.h"
#include "test_support.h"

std::vector<uint32_t> PauseRecorder::Pauses() {
  std::lock_guard<std::mutex> lock(mutex);
  return pauses;
}

int PauseRecorder::Woken() {
  std::lock_guard<std::mutex> lock(mutex);
  return woken;
}

void PauseRecorder::Hold(size_t number) {
  std::lock_guard<std::mutex> lock(mutex);
  held = number;
}

void PauseRecorder::StopAt(size_t number) {
  std::lock_guard<std::mutex> lock(mutex);
  stopAt = number;
}

void PauseRecorder::Release() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    held = 0;
  }
  released.notify_all();
}

bool PauseRecorder::Record(void*, uint32_t ms) {
  std::unique_lock<std::mutex> lock(mutex);
  pauses.push_back(ms);
  size_t number = pauses.size();
  if (number == stopAt) OsEventReset(TormelStopEvent);
  released.wait(lock, [&] { return held != number; });
  return !real;
}

void PauseRecorder::Wake(void*) {
  std::lock_guard<std::mutex> lock(mutex);
  ++woken;
}

void PauseRecorder::Install(TormelHooks* hooks, bool waitForReal) {
  std::lock_guard<std::mutex> lock(mutex);
  pauses.clear();
  woken = 0;
  held = 0;
  stopAt = 0;
  real = waitForReal;
  hooks->pause = Record;
  hooks->woken = Wake;
}

bool FakeTime::Pause(void*, uint32_t ms) {
  looks.emplace_back(now, TextLines(ReadFile("TORMEL.LOG")).size());
  now += ms;
  return true;
}

void FakeTime::Install(TormelHooks* hooks) {
  now = 1000000;
  looks.clear();
  hooks->clock = Clock;
  hooks->random = NoSpread;
  hooks->pause = Pause;
}
