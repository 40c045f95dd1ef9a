// The service's entry on POSIX: the arguments, joined by single blanks, are
// the command line. systemd starts it as it is started by hand.
#include <string>

#include "os_service.h"
#include "tormel.h"

int main(int argc, char** argv) {
  std::string commandLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) commandLine += ' ';
    commandLine += argv[i];
  }
  return OsServiceRun(TormelMain, commandLine.c_str());
}
