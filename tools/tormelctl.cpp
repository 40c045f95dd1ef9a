// tormelctl: the operator's control program for the Tormel service.
#include <cstdio>
#include <cstring>

#include "ctl.h"
#include "os_process.h"

void CtlPrintUsage(FILE* out) {
  fprintf(out,
          "usage: tormelctl COMMAND [ARGUMENTS]\n"
          "\n"
          "commands:\n"
          "  stop [--timeout SECONDS]\n"
          "      ask the running service to stop and wait for its end (default 30 seconds)\n"
          "  status [--json] [PARAMFILE]\n"
          "      whether the service runs, its events, its stations, and the buffer files with their\n"
          "      records; --json: the same as one JSON document\n"
          "  metrics [--textfile DIR]\n"
          "      the service's state in the Prometheus text format, or written to DIR/tormel.prom\n"
          "  health [--max-age SECONDS] [--max-down SECONDS]\n"
          "      a monitoring plugin's check: OK, WARNING (a station down longer than --max-down,\n"
          "      default 600), CRITICAL (the service does not run, or a record waits longer than\n"
          "      --max-age, default 3600), UNKNOWN; exit status 0, 1, 2, 3\n"
          "  check [PARAMFILE]\n"
          "      read a parameter file as the service does and say whether it would start\n"
          "  put [--config PARAMFILE] --number N --to IP RECORD\n"
          "      append one pending record for the receiver IP to buffer file N\n"
          "  install [--name NAME] [PARAMFILE]\n"
          "      register the service (Windows; default name Tormel), started with the system\n"
          "  uninstall [--name NAME]\n"
          "      stop the registered service and remove it (Windows)\n"
          "\n"
          "PARAMFILE defaults to %s.\n"
          "Exit status: 0 done, 1 failed, 2 command line not understood (health: as above).\n",
          OsDefaultParameterFile());
}

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
