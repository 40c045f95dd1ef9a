// Between the POSIX platform files only: what the termination request
// (os_unix_stop.cpp) shares with them. The read end of a pipe becomes
// readable once a request has arrived, so that a wait in poll can watch for
// the request without changing the signal mask on every call; a request
// that came before the wait still ends it at once.
#pragma once

// -1 until OsStopOnSignals has been called.
int OsUnixStopWakeFd();
// The event with descriptor fd is about to be closed: a request must no
// longer reset it.
void OsUnixStopEventClosing(int fd);
