#include <windows.h>

#include "os_time.h"

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

long OsProcessId() { return static_cast<long>(GetCurrentProcessId()); }
