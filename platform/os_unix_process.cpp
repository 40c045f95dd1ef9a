#include "os_process.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "os_unix_robust.h"

const char* OsDefaultParameterFile() { return "/etc/comm/SOCKIO.INI"; }

long OsProcessId() { return static_cast<long>(getpid()); }

bool OsProcessRuns(long pid) {
  // EPERM: it exists, but belongs to somebody this process may not signal.
  return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

void OsPrintDiagnostic(const char* line) {
  fprintf(stderr, "%s\n", line);
  fflush(stderr);
}

void OsFailWritesPastSizeLimit() { OsUnixIgnoreSignal(SIGXFSZ); }
