// The Service Control Manager. A program it starts must connect to it with
// StartServiceCtrlDispatcher, which then runs the service on a thread of its
// own and carries the manager's controls to a handler on the main thread;
// started any other way (by hand, at log-on, from the Task Scheduler) the
// program simply runs.
#include <windows.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <mutex>

#include "os_common.h"
#include "os_service.h"
#include "os_time.h"
#include "os_win_objects.h"
#include "os_win_wake.h"

namespace {

constexpr DWORD kStartWaitHintMs = 10000;
// A stop ends with the record in hand, which may wait for its receiver up
// to the configured time-out.
constexpr DWORD kStopWaitHintMs = 30000;
constexpr DWORD kRestartDelayMs = 5000;
constexpr DWORD kFailureResetSeconds = 24 * 60 * 60;

int (*g_programMain)(const char*) = nullptr;
const char* g_commandLine = nullptr;
int g_exitStatus = 0;

std::mutex g_statusLock;  // the status is reported from the service thread and the control handler
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status{};

void Report(DWORD state, DWORD waitHintMs, int exitStatus = 0) {
  std::lock_guard<std::mutex> lock(g_statusLock);
  if (g_statusHandle == nullptr) return;
  // Once stopping, a late report of running must not undo it.
  if (state == SERVICE_RUNNING && g_status.dwCurrentState != SERVICE_START_PENDING) return;
  bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
  g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_status.dwCheckPoint = !pending ? 0 : g_status.dwCurrentState == state ? g_status.dwCheckPoint + 1 : 1;
  g_status.dwCurrentState = state;
  g_status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  g_status.dwWaitHint = waitHintMs;
  g_status.dwWin32ExitCode = exitStatus == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
  g_status.dwServiceSpecificExitCode = static_cast<DWORD>(exitStatus);
  SetServiceStatus(g_statusHandle, &g_status);
}

DWORD WINAPI OnServiceControl(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      Report(SERVICE_STOP_PENDING, kStopWaitHintMs);
      OsWinRequestStop();
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD argc, char** argv) {
  SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExA(argc > 0 ? argv[0] : "", OnServiceControl, nullptr);
  if (handle == nullptr) {
    g_exitStatus = 1;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(g_statusLock);
    g_statusHandle = handle;
  }
  Report(SERVICE_START_PENDING, kStartWaitHintMs);
  g_exitStatus = g_programMain(g_commandLine);
  Report(SERVICE_STOPPED, 0, g_exitStatus);
}

// True when the parent of this process is the service manager's process,
// which starts every service. Only then is the dispatcher asked: where no
// manager started the program, Windows refuses the connection at once, but
// Wine's dispatcher waits ten seconds for a pipe that never comes.
bool StartedByServiceManager() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return true;  // cannot tell: the dispatcher will
  const DWORD self = GetCurrentProcessId();
  DWORD parent = 0;
  bool byManager = false;
  for (int pass = 0; pass < 2 && (pass == 0 || parent != 0); ++pass) {
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
      if (pass == 0 && entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
      if (pass == 1 && entry.th32ProcessID == parent) byManager = lstrcmpiA(entry.szExeFile, "services.exe") == 0;
    }
  }
  CloseHandle(snapshot);
  return byManager;
}

bool UnderServiceManager() {
  std::lock_guard<std::mutex> lock(g_statusLock);
  return g_statusHandle != nullptr;
}

int ServiceError(DWORD err) {
  switch (err) {
    case ERROR_ACCESS_DENIED: return OS_SERVICE_DENIED;
    case ERROR_SERVICE_EXISTS: return OS_SERVICE_EXISTS;
    case ERROR_SERVICE_DOES_NOT_EXIST: return OS_SERVICE_MISSING;
    default: return static_cast<int>(err);
  }
}

// Restart after every failure, 5 seconds later; a day without failure
// starts the count afresh. A stop with a non-zero exit status counts as a
// failure as a crash does, where the manager knows that setting (Wine's
// does not). The setting holds no text, so the wide call serves; Wine's
// narrow one refuses it.
bool SetRestartOnFailure(SC_HANDLE service) {
  SC_ACTION restart[3] = {{SC_ACTION_RESTART, kRestartDelayMs}, {SC_ACTION_RESTART, kRestartDelayMs},
                          {SC_ACTION_RESTART, kRestartDelayMs}};
  SERVICE_FAILURE_ACTIONSA actions{};
  actions.dwResetPeriod = kFailureResetSeconds;
  actions.cActions = 3;
  actions.lpsaActions = restart;
  if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &actions)) return false;
  SERVICE_FAILURE_ACTIONS_FLAG onExitStatus{TRUE};
  return ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onExitStatus) ||
         GetLastError() == ERROR_INVALID_LEVEL;
}

// Waits until the service has stopped, asking it to stop again while it is
// still starting (a starting service does not take the control yet).
bool StopAndWait(SC_HANDLE service, unsigned timeoutSeconds) {
  const uint64_t deadline = OsMonotonicMs() + static_cast<uint64_t>(timeoutSeconds) * 1000;
  for (;;) {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service, &status)) return false;
    if (status.dwCurrentState == SERVICE_STOPPED) return true;
    if (status.dwCurrentState != SERVICE_STOP_PENDING) ControlService(service, SERVICE_CONTROL_STOP, &status);
    if (OsMonotonicMs() >= deadline) return false;
    Sleep(100);
  }
}

}  // namespace

SECURITY_ATTRIBUTES* OsWinObjectSecurity() {
  static SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  static std::once_flag once;
  if (!UnderServiceManager()) return nullptr;
  std::call_once(once, [] {
    // Full access for the system and administrators, looking and waiting
    // for every authenticated user.
    ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;GRGX;;;AU)",
                                                         SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr);
  });
  return attributes.lpSecurityDescriptor != nullptr ? &attributes : nullptr;
}

int OsServiceRun(int (*programMain)(const char* commandLine), const char* commandLine) {
  g_programMain = programMain;
  g_commandLine = commandLine;
  // An own-process service: the manager does not match the name.
  SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(""), ServiceMain}, {nullptr, nullptr}};
  if (StartedByServiceManager() && StartServiceCtrlDispatcherA(table)) return g_exitStatus;
  return programMain(commandLine);
}

void OsServiceReportRunning() {
  if (!UnderServiceManager()) return;
  OsWinIgnoreLogoff();
  Report(SERVICE_RUNNING, 0);
}

void OsServiceReportStopping() { Report(SERVICE_STOP_PENDING, kStopWaitHintMs); }

// The Service Control Manager watches no service's liveness.
void OsServiceKeepAlive(uint64_t) {}

uint32_t OsServiceKeepAliveIntervalMs() { return 0; }

int OsServiceInstall(const char* name, const char* displayName, const char* description, const char* commandLine) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
  if (manager == nullptr) return ServiceError(GetLastError());
  SC_HANDLE service = CreateServiceA(manager, name, displayName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                     SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, commandLine, nullptr, nullptr, nullptr,
                                     nullptr, nullptr);
  DWORD err = service == nullptr ? GetLastError() : NO_ERROR;
  if (service != nullptr) {
    SERVICE_DESCRIPTIONA text{const_cast<char*>(description)};
    if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &text) || !SetRestartOnFailure(service)) {
      // Half a registration would be a service that is never restarted.
      err = GetLastError();
      DeleteService(service);
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return ServiceError(err);
}

int OsServiceUninstall(const char* name, unsigned timeoutSeconds) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return ServiceError(GetLastError());
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
  DWORD err = service == nullptr ? GetLastError() : NO_ERROR;
  int result = 0;
  if (service != nullptr) {
    if (!StopAndWait(service, timeoutSeconds)) result = OS_SERVICE_STILL_RUNNING;
    else if (!DeleteService(service)) err = GetLastError();
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return result != 0 ? result : ServiceError(err);
}

int OsServiceSiblingProgram(const char* program, char* buf, unsigned size) {
  char self[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  if (n == 0 || n >= sizeof self) return n == 0 ? static_cast<int>(GetLastError()) : ERROR_FILENAME_EXCED_RANGE;
  return OsCommonSiblingPath(self, '\\', program, ".exe", buf, size) ? 0 : ERROR_INSUFFICIENT_BUFFER;
}
