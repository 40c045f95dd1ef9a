// Between the Windows platform files only: the unnamed events that end a
// wait: the one a termination request sets, the one every connection of
// OsTcpConnectStart signals when something happens on it, and the one a
// folder watch signals when its read completes.
#pragma once
#include <windows.h>

#include "os_watch.h"

// nullptr until OsStopOnSignals has been called.
HANDLE OsWinStopWakeEvent();
// Made on first use; a connection is tied to it for its whole life.
HANDLE OsWinNetEvent();
// The event of a watch that is open.
HANDLE OsWinWatchEvent(const OsWatch* w);
