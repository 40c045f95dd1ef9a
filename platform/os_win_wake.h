// Between the Windows platform files only: what ends a wait. The
// termination request (os_win_stop.cpp), made alike by a console control
// event and by the service manager's stop and shutdown controls
// (os_win_service.cpp); and the unnamed events that end a wait: the one a
// termination request sets, the one every connection of OsTcpConnectStart
// signals when something happens on it, and the one a folder watch signals
// when its read completes.
#pragma once
#include <windows.h>

#include "os_watch.h"

// Resets the event given to OsStopOnSignals, ends a running OsSleepMs and
// makes OsStopRequested true. Safe on any thread.
void OsWinRequestStop();
// The event ev is about to be closed: a request must no longer reset it.
void OsWinStopEventClosing(HANDLE ev);
// From now on a user's log-off is no termination request.
void OsWinIgnoreLogoff();
// nullptr until OsStopOnSignals has been called.
HANDLE OsWinStopWakeEvent();
// Made on first use; a connection is tied to it for its whole life.
HANDLE OsWinNetEvent();
// The event of a watch that is open.
HANDLE OsWinWatchEvent(const OsWatch* w);
