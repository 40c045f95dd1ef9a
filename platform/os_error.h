// Error numbers of the operating system, as the rest of the system sees them.
//
// A platform result is 0 for success, the system's own error number (errno
// on POSIX; GetLastError or the WSA number on Windows), or one of the
// platform's own codes (OS_FILE_LOCKED, OS_NET_TIMEOUT, ...). The system's
// numbers are positive and the platform's own codes negative, so the two
// never meet; where Windows has a number for the same case, the code is its
// negation.
#pragma once
#include <cstddef>

// Writes the system's text for an error number, always zero-terminated and
// on one line.
void OsErrorText(int code, char* buf, size_t size);

// True when code says that the named file or object does not exist.
bool OsErrorIsNotFound(int code);
