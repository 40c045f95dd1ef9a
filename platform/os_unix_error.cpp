#include "os_error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

void OsErrorText(int code, char* buf, size_t size) {
  if (size == 0) return;
  // The GNU strerror_r may return a static text instead of filling buf.
  char tmp[128];
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  const char* text = strerror_r(code, tmp, sizeof tmp);
#else
  const char* text = strerror_r(code, tmp, sizeof tmp) == 0 ? tmp : "unknown error";
#endif
  snprintf(buf, size, "%s", text);
}

bool OsErrorIsNotFound(int code) { return code == ENOENT; }
