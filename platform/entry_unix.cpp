// The service's entry on POSIX: the arguments, joined by single blanks, are
// the command line.
#include <string>

#include "tormel.h"

int main(int argc, char** argv) {
  std::string commandLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) commandLine += ' ';
    commandLine += argv[i];
  }
  return TormelMain(commandLine.c_str());
}
