// Clocks and sleeping.
#pragma once
#include <cstdint>

struct OsLocalTime {
  int year, month, day, hour, minute, second, millisecond;
};

void OsGetLocalTime(OsLocalTime* t);

// Milliseconds from an arbitrary start; never goes backwards. The one clock
// every deadline and every measured pause is taken from.
uint64_t OsMonotonicMs();

// Milliseconds since 1970-01-01 UTC, as the system's clock tells them: for
// what operators are shown, never for a deadline.
uint64_t OsWallClockMs();

// Sleeps the given milliseconds. Returns early once a termination request
// has arrived, or within OS_STOP_SLICE_MS once the stop event is found reset
// (os_stop.h); a request that came before the call ends it at once.
void OsSleepMs(uint32_t ms);
