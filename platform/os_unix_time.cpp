#include "os_time.h"

#include <poll.h>

#include <ctime>

#include "os_sync.h"
#include "os_unix_wake.h"

void OsGetLocalTime(OsLocalTime* t) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  t->year = local.tm_year + 1900;
  t->month = local.tm_mon + 1;
  t->day = local.tm_mday;
  t->hour = local.tm_hour;
  t->minute = local.tm_min;
  t->second = local.tm_sec;
  t->millisecond = static_cast<int>(now.tv_nsec / 1000000);
}

uint64_t OsMonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

uint64_t OsWallClockMs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

void OsSleepMs(uint32_t ms) {
  // The wake pipe stays readable once a request has written to it, so a
  // request that came just before the poll still ends it at once. A reset
  // of the stop event wakes nobody: it is looked for between slices.
  pollfd wake{OsUnixStopWakeFd(), POLLIN, 0};
  const uint64_t deadline = OsMonotonicMs() + ms;
  while (!OsStopPending()) {
    uint64_t now = OsMonotonicMs();
    if (now >= deadline) break;
    uint64_t left = deadline - now;
    poll(&wake, wake.fd >= 0 ? 1 : 0, static_cast<int>(left < OS_STOP_SLICE_MS ? left : OS_STOP_SLICE_MS));
  }
}
