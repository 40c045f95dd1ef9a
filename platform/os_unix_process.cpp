#include "os_process.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>

const char* OsDefaultParameterFile() { return "/etc/comm/SOCKIO.INI"; }

long OsProcessId() { return static_cast<long>(getpid()); }

void OsPrintDiagnostic(const char* line) {
  fprintf(stderr, "%s\n", line);
  fflush(stderr);
}

void OsFailWritesPastSizeLimit() {
  struct sigaction sa{};
  sa.sa_handler = SIG_IGN;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGXFSZ, &sa, nullptr);
}
