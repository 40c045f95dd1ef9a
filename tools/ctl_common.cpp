// Helpers the commands share: messages, the parameter file.
#include <cstdio>

#include "ctl.h"
#include "os_error.h"
#include "os_process.h"

void CtlError(const std::string& text) { fprintf(stderr, "tormelctl: %s\n", text.c_str()); }

int CtlUsageError(const std::string& text) {
  CtlError(text);
  CtlPrintUsage(stderr);
  return CTL_EXIT_USAGE;
}

std::string CtlErrorText(int err) {
  char text[160];
  OsErrorText(err, text, sizeof text);
  return text;
}

bool CtlReadParams(const char* path, CtlParams* params) {
  return TormelReadParams(path, params->table, &params->config, &params->code, &params->where) != 0;
}

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
