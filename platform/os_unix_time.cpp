#include "os_time.h"

#include <poll.h>

#include <ctime>

#include "os_common.h"
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

// The wake pipe stays readable once a request has written to it, so a
// request that came just before the poll still ends the sleep at once. A
// reset of the stop event wakes nobody: it is looked for between slices.
void OsSysSleepSlice(uint32_t ms) {
  pollfd wake{OsUnixStopWakeFd(), POLLIN, 0};
  poll(&wake, 1, static_cast<int>(ms));
}
