// Between the Windows platform files only: the termination request, made
// alike by a console control event (os_win_sync.cpp) and by the service
// manager's stop and shutdown controls (os_win_service.cpp).
#pragma once

// Resets the event given to OsStopOnSignals, ends a running OsSleepMs and
// makes OsStopRequested true. Safe on any thread.
void OsWinRequestStop();
