// Error numbers on Windows are GetLastError values (and WSA values for
// sockets); the system's message table has the text for both.
#include <windows.h>

#include <cstdio>

#include "os_error.h"

void OsErrorText(int code, char* buf, size_t size) {
  if (size == 0) return;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buf,
                           static_cast<DWORD>(size), nullptr);
  if (n == 0) {
    snprintf(buf, size, "error %d", code);
    return;
  }
  // The message table ends its texts with a line end, which would break the
  // one-line log entries and diagnostics the texts go into.
  while (n > 0 && (buf[n - 1] == '\r' || buf[n - 1] == '\n' || buf[n - 1] == ' ')) buf[--n] = '\0';
}

bool OsErrorIsNotFound(int code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }
