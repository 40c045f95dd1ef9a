// Between the Windows platform files only: the unnamed event that a
// termination request sets, so that a wait can end on it as well.
#pragma once
#include <windows.h>

// nullptr until OsStopOnSignals has been called.
HANDLE OsWinStopWakeEvent();
