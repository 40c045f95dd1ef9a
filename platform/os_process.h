// What a program needs of its process beyond files, sockets and named objects.
#pragma once

// The parameter file read when the command line names none.
const char* OsDefaultParameterFile();

// The process's identity, as the error log records it.
long OsProcessId();

// True while a process with this id exists (also one this process may not
// signal or inspect).
bool OsProcessRuns(long pid);

// Reports one line about a failed start to whoever watches the process
// (standard error on POSIX). line carries no line end.
void OsPrintDiagnostic(const char* line);

// A write past the process's file size limit fails with an error instead of
// ending the process, so that the writer can undo what it began.
void OsFailWritesPastSizeLimit();
