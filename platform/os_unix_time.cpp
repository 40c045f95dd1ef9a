#include "os_time.h"

#include <ctime>
#include <sys/time.h>
#include <unistd.h>

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

long OsProcessId() { return static_cast<long>(getpid()); }
