// How the library turns a caller's time-out into the wait it asks for.
#pragma once
#include <cstdint>

// Milliseconds for a time-out in seconds: 0 (or less) means the default of
// 3 seconds; more than a day is cut to a day.
int SockioTimeoutMs(int32_t seconds);
