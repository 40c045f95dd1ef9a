// The console on Windows: the C runtime's key polling, which reads the
// console input without echo whatever the standard input is redirected to.
#include <windows.h>

#include <conio.h>

#include "os_console.h"

namespace {

// A process has a console when its console input can be opened; a GUI
// program or a detached one has none, and _getch would then wait forever.
bool HasConsoleInput() {
  HANDLE in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  bool console = GetConsoleMode(in, &mode) != 0;
  CloseHandle(in);
  return console;
}

}  // namespace

// _kbhit and _getch never echo: a wait needs nothing held.
bool OsConsoleKeyWaitBegin() { return HasConsoleInput(); }

void OsConsoleKeyWaitEnd() {}

bool OsConsoleKeyPending() { return HasConsoleInput() && _kbhit() != 0; }

int OsConsoleReadKey() { return HasConsoleInput() ? _getch() : -1; }
