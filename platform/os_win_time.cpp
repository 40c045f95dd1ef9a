#include <windows.h>

#include "os_common.h"
#include "os_time.h"
#include "os_win_wake.h"

void OsGetLocalTime(OsLocalTime* t) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  t->year = st.wYear;
  t->month = st.wMonth;
  t->day = st.wDay;
  t->hour = st.wHour;
  t->minute = st.wMinute;
  t->second = st.wSecond;
  t->millisecond = st.wMilliseconds;
}

uint64_t OsMonotonicMs() { return GetTickCount64(); }

uint64_t OsWallClockMs() {
  // FILETIME counts 100 ns since 1601-01-01.
  constexpr uint64_t kFrom1601To1970Ms = 11644473600000ull;
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return ticks / 10000 - kFrom1601To1970Ms;
}

// The wake event stays set once a request has set it. Nothing can wait for
// an event to become reset: the stop event is looked at between slices.
void OsSysSleepSlice(uint32_t ms) {
  HANDLE wake = OsWinStopWakeEvent();
  if (wake == nullptr) Sleep(ms);
  else WaitForSingleObject(wake, ms);
}
