// The termination request on Windows, made alike by a console control event
// and by the service manager's stop and shutdown controls
// (os_win_service.cpp): it resets the stop event and sets an unnamed event
// on which every wait also waits (os_win_wake.h), so a wait ends at once. A
// stop event reset by somebody else is found between slices of a wait.
#include <windows.h>

#include <atomic>

#include "os_stop.h"
#include "os_win_wake.h"

namespace {

std::atomic<HANDLE> g_stopEvent{nullptr};  // the event a request resets
std::atomic<HANDLE> g_wake{nullptr};       // set by a request; ends every wait
std::atomic<bool> g_stopRequested{false};

BOOL WINAPI OnControlEvent(DWORD type) {
  OsWinRequestStop();
  // For a closing console, log-off or shutdown the process ends when this
  // handler returns: give the service the time to finish its record and
  // set the event again, which ends the process before this sleep does.
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) Sleep(5000);
  return TRUE;
}

BOOL WINAPI IgnoreLogoff(DWORD type) { return type == CTRL_LOGOFF_EVENT ? TRUE : FALSE; }

}  // namespace

void OsWinRequestStop() {
  HANDLE ev = g_stopEvent.load();
  if (ev != nullptr) ResetEvent(ev);
  g_stopRequested = true;
  HANDLE wake = g_wake.load();
  if (wake != nullptr) SetEvent(wake);
}

int OsStopOnSignals(OsEvent ev) {
  if (g_wake.load() == nullptr) {
    HANDLE wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (wake == nullptr) return static_cast<int>(GetLastError());
    g_wake = wake;
  }
  g_stopEvent = ev.handle == -1 ? nullptr : reinterpret_cast<HANDLE>(ev.handle);
  return SetConsoleCtrlHandler(OnControlEvent, TRUE) ? 0 : static_cast<int>(GetLastError());
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

void OsWinStopEventClosing(HANDLE ev) {
  // The control handler runs on a thread of its own: it must not reset a
  // handle value that a later open may have reused.
  g_stopEvent.compare_exchange_strong(ev, nullptr);
}

// A service outlives a user's log-off, which the system still announces to
// every process with a console control handler. The handler that turns
// console events into a termination request is set at start-up; this one,
// set later and therefore asked first, keeps the log-off from it.
void OsWinIgnoreLogoff() { SetConsoleCtrlHandler(IgnoreLogoff, TRUE); }

// No signal is raised by a write to a closed socket on Windows.
void OsIgnoreBrokenPipe() {}
