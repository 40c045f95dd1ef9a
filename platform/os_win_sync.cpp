// Named objects on Windows are the kernel's own: a mutex held by the
// running instance and manual-reset events, in the global namespace.
//
// A termination request (console control event) resets the stop event and
// sets an unnamed event on which every wait also waits (os_win_wake.h), so a
// wait ends at once. A stop event reset by somebody else is found between
// slices of a wait.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "os_sync.h"
#include "os_win_objects.h"
#include "os_win_stop.h"
#include "os_win_wake.h"

namespace {

std::atomic<HANDLE> g_stopEvent{nullptr};  // the event a request resets
std::atomic<HANDLE> g_wake{nullptr};       // set by a request; ends every wait
std::atomic<bool> g_stopRequested{false};

HANDLE H(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

BOOL WINAPI OnControlEvent(DWORD type) {
  OsWinRequestStop();
  // For a closing console, log-off or shutdown the process ends when this
  // handler returns: give the service the time to finish its record and
  // set the event again, which ends the process before this sleep does.
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) Sleep(5000);
  return TRUE;
}

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

void OsWinRequestStop() {
  HANDLE ev = g_stopEvent.load();
  if (ev != nullptr) ResetEvent(ev);
  g_stopRequested = true;
  HANDLE wake = g_wake.load();
  if (wake != nullptr) SetEvent(wake);
}

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
  if (r == WAIT_OBJECT_0) return 1;
  if (r == WAIT_TIMEOUT) return 0;
  return -1;
}

void OsEventClose(OsEvent* ev) {
  if (ev->handle == -1) return;
  // The control handler runs on a thread of its own: it must not reset a
  // handle value that a later open may have reused.
  HANDLE h = H(ev->handle);
  g_stopEvent.compare_exchange_strong(h, nullptr);
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
  size_t len = lstrlenA(dir);
  if (len + 1 > size) return ERROR_BUFFER_OVERFLOW;
  memcpy(buf, dir, len + 1);
  return 0;
}

void OsMutexRelease(OsMutex* m) {
  if (m->handle == -1) return;
  ReleaseMutex(H(m->handle));
  CloseHandle(H(m->handle));
  m->handle = -1;
}

int OsStopOnSignals(OsEvent ev) {
  if (g_wake.load() == nullptr) {
    HANDLE wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (wake == nullptr) return static_cast<int>(GetLastError());
    g_wake = wake;
  }
  g_stopEvent = ev.handle == -1 ? nullptr : H(ev.handle);
  if (!SetConsoleCtrlHandler(OnControlEvent, TRUE)) return static_cast<int>(GetLastError());
  return 0;
}

bool OsStopRequested() { return g_stopRequested; }

HANDLE OsWinStopWakeEvent() { return g_wake.load(); }

bool OsStopPending() {
  if (g_stopRequested) return true;
  HANDLE ev = g_stopEvent.load();
  if (ev == nullptr || WaitForSingleObject(ev, 0) != WAIT_TIMEOUT) return false;
  g_stopRequested = true;
  return true;
}

// No signal is raised by a write to a closed socket on Windows.
void OsIgnoreBrokenPipe() {}
