// Named objects shared between processes: the single-instance mutex and the
// manual-reset events that start and stop the service (the termination
// request that resets the stop event: os_stop.h).
// Results are 0 for success or an error number (os_error.h), unless noted.
//
// Names meet across processes of every session of the machine. On POSIX the
// objects live in a runtime folder that its owner alone may write
// (TORMEL_RUNTIME_DIR when set; a folder anybody else may write, or a
// symbolic link, is refused). Its owner makes the objects; root or a member
// of the owner's group may visit the folder of another user
// (TORMEL_RUNTIME_DIR, /run/tormel): a visitor opens only objects that
// exist, and makes none. On Windows they live in the kernel's global
// namespace.
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
// *error (when given) telling why. *holder (when given) receives the
// holder's process id where the system tells (POSIX), else 0.
int OsMutexIsHeld(const char* name, int* error = nullptr, long* holder = nullptr);
void OsMutexRelease(OsMutex* m);

// The folder where the service keeps what it publishes beside its named
// objects (its state): on POSIX the runtime folder above, made when missing
// as the objects' folder is; on Windows TORMEL_RUNTIME_DIR when set, else
// %ProgramData%\Tormel, which is not made here. 0 or an error.
int OsRuntimeFolder(char* buf, unsigned size);
