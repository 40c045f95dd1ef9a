// Plain file access: the parameter file, the buffer files and the error log.
// Results are 0 for success or an error number (os_error.h), unless noted.
#pragma once
#include <cstddef>
#include <cstdint>

struct OsFile {
  intptr_t handle = -1;  // file descriptor or HANDLE; -1 when closed
};

// The file is opened for reading only.
int OsFileOpenRead(const char* path, OsFile* f);

// An existing file is opened for reading and writing, shared with other
// readers and writers. A file without write permission for anybody
// (permission bits, whatever the caller's privileges) is refused with EACCES.
int OsFileOpenUpdate(const char* path, OsFile* f);

// Opens for appending, creating the file (mode 0644) when it is missing.
// Every OsFileAppend lands at the file's end in one piece.
int OsFileOpenAppend(const char* path, OsFile* f);

// Reads at most n bytes at offset; *got is 0 at end of file.
int OsFileReadAt(OsFile f, uint64_t offset, void* buf, size_t n, size_t* got);

// Writes all n bytes at offset.
int OsFileWriteAt(OsFile f, uint64_t offset, const void* buf, size_t n);

// Writes all n bytes at the end of a file opened with OsFileOpenAppend, as
// one write call.
int OsFileAppend(OsFile f, const void* buf, size_t n);

int OsFileSize(OsFile f, uint64_t* size);
int OsFileTruncate(OsFile f, uint64_t size);

// Exclusive advisory lock on the whole open file, waiting for it; released by
// OsFileUnlock or by closing.
int OsFileLock(OsFile f);
int OsFileUnlock(OsFile f);

// *same is true when path still names the very file that f has open (it was
// neither removed nor replaced since f was opened).
int OsFileIsAtPath(OsFile f, const char* path, bool* same);

int OsFileClose(OsFile* f);
int OsFileRemove(const char* path);
// Replaces to if it exists.
int OsFileRename(const char* from, const char* to);
// Size of the file at path; error when it does not exist.
int OsPathSize(const char* path, uint64_t* size);

// Opens an existing regular file (a symbolic link to one included) for
// reading without ever waiting in the open: a FIFO, a device or a folder is
// refused at once.
int OsFileOpenReadRegular(const char* path, OsFile* f);

// Opens the error log for reading and appending, creating it (mode 0644)
// when missing: only a regular file, never through a symbolic link, and
// without waiting in the open.
int OsFileOpenLog(const char* path, OsFile* f);

// Appends all n bytes to a file opened with OsFileOpenLog in one piece,
// whoever else appends. When only part of them could be written (a full
// disk), the file is cut back to where they began, unless another writer
// has appended since, so that no torn line stays behind. (Windows writes
// to a disk file whole or not at all.)
int OsFileAppendWhole(OsFile f, const void* buf, size_t n);

// Empties a file opened with OsFileOpenLog: a log that cannot be rotated.
int OsFileEmptyLog(OsFile f);
