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

// An event exists while some process has a handle to it: when the last
// handle closes, however its process ended, the event and its state are gone.
//
// Creates the named manual-reset event with the given state, or opens it with
// its current state when it exists already.
int OsEventCreate(const char* name, bool initiallySet, OsEvent* ev);
// Opens an existing named event; an error for which OsErrorIsNotFound holds
// when there is none.
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
// 1 when some process holds the named mutex, 0 when free, -1 on error with
// *error (when given) telling why.
int OsMutexIsHeld(const char* name, int* error = nullptr);
void OsMutexRelease(OsMutex* m);

// From now on a termination request (SIGTERM, SIGINT, SIGHUP, SIGQUIT; a
// console control event on Windows) resets ev and ends a running OsSleepMs
// and every socket wait early; other signals that would end the program
// (SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE, SIGXFSZ) are ignored. ev found reset
// during a wait counts as a termination request too. A program without a
// stop event passes OsEvent{} and asks OsStopRequested. Called again, it
// names another event; a request that has arrived stays.
int OsStopOnSignals(OsEvent ev);
// True once a termination request has arrived. Costs no system call.
bool OsStopRequested();
// As OsStopRequested, and true also when the stop event is found reset
// (which then counts as a request). Reads the event: for waits, not for
// every record.
bool OsStopPending();
// Sleeps the given milliseconds; returns early once a termination request
// has arrived or the stop event was reset (OsStopOnSignals).
void OsSleepMs(uint32_t ms);
// Ignores the signal a write to a closed connection would raise.
void OsIgnoreBrokenPipe();

// Writes the folder that holds the named objects (created on first use).
int OsRuntimeDir(char* buf, unsigned size);
