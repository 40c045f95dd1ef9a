// Clocks and the process identity.
#pragma once
#include <cstdint>

struct OsLocalTime {
  int year, month, day, hour, minute, second, millisecond;
};

void OsGetLocalTime(OsLocalTime* t);

// Milliseconds from an arbitrary start; never goes backwards.
uint64_t OsMonotonicMs();

long OsProcessId();
