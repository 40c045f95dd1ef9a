// The service's entry on Windows: a GUI-subsystem program, so it runs
// without a window and without a console. The command line is the text after
// the program name, blanks and control characters before it skipped; it is
// the parameter file path as it stands, quotes and trailing blanks included.
// Started by the Service Control Manager it runs as its service, with the
// command line registered there; started otherwise, as a plain program.
#include <windows.h>

#include "os_service.h"
#include "tormel.h"

namespace {

const char* AfterProgramName(const char* p) {
  if (*p == '"') {
    // A quoted program name ends at its closing quote.
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (static_cast<unsigned char>(*p) > ' ') ++p;
  }
  while (*p && static_cast<unsigned char>(*p) <= ' ') ++p;
  return p;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return OsServiceRun(TormelMain, AfterProgramName(GetCommandLineA()));
}
