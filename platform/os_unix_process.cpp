#include "os_process.h"

#include <cstdio>

const char* OsDefaultParameterFile() { return "/etc/comm/SOCKIO.INI"; }

void OsPrintDiagnostic(const char* line) {
  fprintf(stderr, "%s\n", line);
  fflush(stderr);
}
