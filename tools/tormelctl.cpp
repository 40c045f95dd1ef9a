// tormelctl: the operator's control program for the Tormel service.
#include <cstdio>
#include <cstring>

#include "ctl.h"
#include "os_process.h"

int main(int argc, char** argv) {
  // put undoes a write that the file size limit cuts short.
  OsFailWritesPastSizeLimit();
  if (argc < 2 || strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "help") == 0) {
    CtlPrintUsage(stdout);
    return CTL_EXIT_OK;
  }
  const char* command = argv[1];
  int rest = argc - 2;
  char** args = argv + 2;
  if (strcmp(command, "stop") == 0) return CtlStop(rest, args);
  if (strcmp(command, "status") == 0) return CtlStatus(rest, args);
  if (strcmp(command, "metrics") == 0) return CtlMetrics(rest, args);
  if (strcmp(command, "health") == 0) return CtlHealth(rest, args);
  if (strcmp(command, "check") == 0) return CtlCheck(rest, args);
  if (strcmp(command, "put") == 0) return CtlPut(rest, args);
  if (strcmp(command, "install") == 0) return CtlInstall(rest, args);
  if (strcmp(command, "uninstall") == 0) return CtlUninstall(rest, args);
  return CtlUsageError(std::string("unknown command \"") + command + "\"");
}
