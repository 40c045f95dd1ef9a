// A GUI-subsystem program has no standard error of its own: the diagnostic
// goes to the debugger output, where a debugger or a monitor of that output
// sees it, and also to standard error when the starter gave the process one
// (a console, a redirection), so scripts and tests read it as on POSIX.
#include <windows.h>

#include <cstdio>
#include <string>

#include "os_process.h"

const char* OsDefaultParameterFile() { return "D:\\COMM\\SOCKIO.INI"; }

long OsProcessId() { return static_cast<long>(GetCurrentProcessId()); }

bool OsProcessRuns(long pid) {
  if (pid <= 0) return false;
  HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  // A process of another account that we may not inspect exists all the same.
  if (h == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  bool runs = GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
  CloseHandle(h);
  return runs;
}

void OsPrintDiagnostic(const char* line) {
  std::string text = std::string(line) + "\r\n";
  OutputDebugStringA(text.c_str());
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
  fprintf(stderr, "%s\n", line);
  fflush(stderr);
}

// Windows raises no signal for a write past a size limit.
void OsFailWritesPastSizeLimit() {}
