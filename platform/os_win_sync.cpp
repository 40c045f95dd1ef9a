// Named objects on Windows are the kernel's own: a mutex held by the
// running instance and manual-reset events, in the global namespace.
#include <windows.h>

#include <thread>

#include "os_sync.h"
#include "os_win_objects.h"
#include "os_win_wake.h"
#include "text.h"

namespace {

HANDLE H(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// True when some thread owns the mutex h, tested from a thread of its own:
// a wait from the holder's own thread would succeed, the mutex being
// recursive, and report it free.
bool OwnedBySomebody(HANDLE h) {
  DWORD result = WAIT_FAILED;
  std::thread probe([&] {
    result = WaitForSingleObject(h, 0);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(h);
  });
  probe.join();
  return result == WAIT_TIMEOUT;
}

}  // namespace

int OsEventCreate(const char* name, bool initiallySet, OsEvent* ev) {
  // An existing event is opened as it is: its state and its reset mode stay.
  HANDLE h = CreateEventA(OsWinObjectSecurity(), TRUE, initiallySet ? TRUE : FALSE, OsWinObjectName(name).c_str());
  if (h == nullptr) return static_cast<int>(GetLastError());
  ev->handle = reinterpret_cast<intptr_t>(h);
  return 0;
}

int OsEventOpen(const char* name, OsEvent* ev) {
  HANDLE h = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, OsWinObjectName(name).c_str());
  if (h == nullptr) return static_cast<int>(GetLastError());
  ev->handle = reinterpret_cast<intptr_t>(h);
  return 0;
}

int OsEventSet(OsEvent ev) { return SetEvent(H(ev.handle)) ? 0 : static_cast<int>(GetLastError()); }

int OsEventReset(OsEvent ev) { return ResetEvent(H(ev.handle)) ? 0 : static_cast<int>(GetLastError()); }

int OsEventIsSet(OsEvent ev) {
  if (ev.handle == -1) return -1;
  DWORD r = WaitForSingleObject(H(ev.handle), 0);
  return r == WAIT_OBJECT_0 ? 1 : r == WAIT_TIMEOUT ? 0 : -1;
}

void OsEventClose(OsEvent* ev) {
  if (ev->handle == -1) return;
  OsWinStopEventClosing(H(ev->handle));
  CloseHandle(H(ev->handle));
  ev->handle = -1;
}

int OsMutexClaim(const char* name, OsMutex* m) {
  HANDLE h = CreateMutexA(OsWinObjectSecurity(), TRUE, OsWinObjectName(name).c_str());
  if (h == nullptr) return static_cast<int>(GetLastError());
  if (GetLastError() != ERROR_ALREADY_EXISTS) {
    m->handle = reinterpret_cast<intptr_t>(h);
    return 0;
  }
  // The mutex existed, so it is not ours. It still may be nobody's: a status
  // probe (OsMutexIsHeld) keeps it in existence and owns it for a moment, and
  // a holder that died leaves it abandoned while a probe has it open. Only a
  // mutex that stays owned by somebody else means another instance.
  // The test runs on a thread of its own, so that a claim from the holder's
  // own thread is refused as well.
  for (int tries = 0; tries < 10; ++tries) {
    if (!OwnedBySomebody(h)) {
      DWORD r = WaitForSingleObject(h, 0);
      if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) {
        m->handle = reinterpret_cast<intptr_t>(h);
        return 0;
      }
    }
    Sleep(5);
  }
  CloseHandle(h);
  return OS_ALREADY_EXISTS;
}

// Windows does not tell who owns a mutex: *holder stays 0.
int OsMutexIsHeld(const char* name, int* error, long* holder) {
  if (error != nullptr) *error = 0;
  if (holder != nullptr) *holder = 0;
  HANDLE h = OpenMutexA(SYNCHRONIZE, FALSE, OsWinObjectName(name).c_str());
  if (h == nullptr) {
    DWORD err = GetLastError();
    if (err == ERROR_FILE_NOT_FOUND) return 0;
    if (error != nullptr) *error = static_cast<int>(err);
    return -1;
  }
  int held = OwnedBySomebody(h) ? 1 : 0;
  CloseHandle(h);
  return held;
}

// Not made here: a folder that somebody else made first would be theirs, so
// only the state's writer, the service, makes it (StateWrite).
int OsRuntimeFolder(char* buf, unsigned size) {
  char dir[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("TORMEL_RUNTIME_DIR", dir, sizeof dir);
  if (n == 0 || n >= sizeof dir) {
    DWORD m = GetEnvironmentVariableA("ProgramData", dir, sizeof dir);
    if (m == 0 || m + sizeof "\\Tormel" > sizeof dir) return ERROR_ENVVAR_NOT_FOUND;
    lstrcatA(dir, "\\Tormel");
  }
  return TextCopyWhole(buf, size, dir) ? 0 : ERROR_BUFFER_OVERFLOW;
}

void OsMutexRelease(OsMutex* m) {
  if (m->handle == -1) return;
  ReleaseMutex(H(m->handle));
  CloseHandle(H(m->handle));
  m->handle = -1;
}
