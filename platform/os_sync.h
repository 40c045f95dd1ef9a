// Named objects shared between processes: the single-instance mutex and the
// manual-reset events that start and stop the service.
// Results are 0 for success or an error number (os_error.h), unless noted.
#pragma once
#include <cstdint>

struct OsEvent {
  intptr_t handle = -1;
};

struct OsMutex {
  intptr_t handle = -1;
};

// Returned by OsMutexClaim when another process holds the mutex.
constexpr int OS_ALREADY_EXISTS = -183;

// Creates the named manual-reset event with the given state, or opens it with
// its current state when it exists already.
int OsEventCreate(const char* name, bool initiallySet, OsEvent* ev);
// Opens an existing named event; an error when there is none.
int OsEventOpen(const char* name, OsEvent* ev);
int OsEventSet(OsEvent ev);
int OsEventReset(OsEvent ev);
// 1 when set (signalled), 0 when reset, -1 on error. Never waits.
int OsEventIsSet(OsEvent ev);
void OsEventClose(OsEvent* ev);

// Claims the named mutex for the life of the process, without waiting.
// OS_ALREADY_EXISTS when another process holds it. The system releases it
// when the process ends, however it ends.
int OsMutexClaim(const char* name, OsMutex* m);
// 1 when some process holds the named mutex, 0 when free, -1 on error.
int OsMutexIsHeld(const char* name);
void OsMutexRelease(OsMutex* m);

// From now on a termination request (SIGTERM, SIGINT; console close on
// Windows) resets ev and ends a running OsSleepMs early. A program without a
// stop event passes OsEvent{} and asks OsStopRequested.
int OsStopOnSignals(OsEvent ev);
// True once a termination request has arrived.
bool OsStopRequested();
// Sleeps the given milliseconds; returns early once a termination request
// has arrived (OsStopOnSignals).
void OsSleepMs(uint32_t ms);
// Ignores the signal a write to a closed connection would raise.
void OsIgnoreBrokenPipe();

// Writes the folder that holds the named objects (created on first use).
int OsRuntimeDir(char* buf, unsigned size);
