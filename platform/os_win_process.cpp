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
