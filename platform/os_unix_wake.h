// Between the POSIX platform files only: the read end of a pipe that
// becomes readable once a termination request has arrived, so that a wait
// in poll can watch for the request without changing the signal mask on
// every call; a request that came before the wait still ends it at once.
#pragma once

// -1 until OsStopOnSignals has been called.
int OsUnixStopWakeFd();
