// The termination request: what operators and the system send to end the
// program. It ends every wait of the platform layer and resets the stop
// event (os_sync.h), by which other processes see the program stopping.
#pragma once
#include <cstdint>

#include "os_sync.h"

// How long a wait goes at most before it looks at the stop event again:
// a reset of the event wakes nobody, a termination request wakes every wait.
constexpr uint32_t OS_STOP_SLICE_MS = 200;

// From now on a termination request (SIGTERM, SIGINT, SIGHUP, SIGQUIT; a
// console control event or the service manager's stop on Windows) resets
// ev, and ends at once a running OsSleepMs (os_time.h), the waits of a
// client socket (os_net.h) and OsWaitAny (os_wait.h). ev found reset
// counts as a request too: sleeps and socket waits look for that every
// OS_STOP_SLICE_MS. Other signals that would end the program (SIGUSR1,
// SIGUSR2, SIGALRM, SIGPIPE, SIGXFSZ) are ignored. A program without a stop
// event passes OsEvent{} and asks OsStopRequested. Called again, it names
// another event; a request that has arrived stays.
int OsStopOnSignals(OsEvent ev);
// True once a termination request has arrived. Costs no system call.
bool OsStopRequested();
// As OsStopRequested, and true also when the stop event is found reset
// (which then counts as a request). Reads the event: for waits, not for
// every record.
bool OsStopPending();
// Ignores the signal a write to a closed connection would raise.
void OsIgnoreBrokenPipe();
