// Error numbers of the operating system, as the rest of the system sees them.
#pragma once
#include <cstddef>

// The calling thread's last error number (errno on POSIX, GetLastError on Windows).
int OsLastError();

// Writes the system's text for an error number, always zero-terminated.
void OsErrorText(int code, char* buf, size_t size);

// True when code says that the named file or object does not exist.
bool OsErrorIsNotFound(int code);
