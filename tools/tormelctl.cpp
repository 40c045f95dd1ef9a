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
  struct Command {
    const char* name;
    int (*run)(int argc, char** argv);
  };
  const Command commands[] = {{"stop", CtlStop},       {"status", CtlStatus}, {"metrics", CtlMetrics},
                              {"health", CtlHealth},   {"check", CtlCheck},   {"put", CtlPut},
                              {"install", CtlInstall}, {"uninstall", CtlUninstall}};
  for (const Command& c : commands)
    if (strcmp(argv[1], c.name) == 0) return c.run(argc - 2, argv + 2);
  return CtlUsageError(std::string("unknown command \"") + argv[1] + "\"");
}
