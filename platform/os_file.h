// Plain file access: the parameter file, the buffer files and the error log.
// Results are 0 for success or an error number (os_error.h), unless noted.
//
// Both systems keep to this:
// - Every open file is shared: other processes may read, write, rename and
//   remove it meanwhile. No handle is inherited by a child process.
// - OsFileRemove frees the name at once, also while somebody still holds the
//   file open; the holder then finds that it is no longer at its path.
// - The lock of OsFileLock keeps out other lockers only, never readers or
//   writers.
#pragma once
#include <cstddef>
#include <cstdint>

struct OsFile {
  intptr_t handle = -1;  // file descriptor or HANDLE; -1 when closed
};

// The identity of a file: which file it is, whatever its names.
struct OsFileId {
  uint64_t device = 0;  // device, or volume serial number
  uint64_t index = 0;   // inode, or file index
  bool operator==(const OsFileId&) const = default;
};

// What the open of a file found out about it, in the one look it takes.
struct OsFileInfo {
  OsFileId id;
  uint64_t size = 0;
  uint64_t bornMs = 0;  // when it was made, wall-clock ms since 1970 (os_time.h); 0 where not recorded
};

// An existing regular file is opened for reading and writing, shared with
// other readers and writers. A symbolic link at path is not followed, and
// anything but a regular file is refused; so is a file without write
// permission for anybody (permission bits, whatever the caller's
// privileges), with EACCES. Every check is made on the opened file, and
// *info (when given) tells what it found.
int OsFileOpenUpdate(const char* path, OsFile* f, OsFileInfo* info = nullptr);

// An existing regular file is opened for reading only, without following a
// symbolic link at path.
int OsFileOpenReadNoFollow(const char* path, OsFile* f);

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

// Waits until the file's data, and its size, are on the disk: what was
// written before survives a power cut, and reads back whole. Its name is not
// made durable by this (OsFolderSync). fdatasync on POSIX, FlushFileBuffers
// on Windows, which also writes the file's own metadata.
int OsFileSync(OsFile f);

// Makes the entries of folder durable: a file created in it, renamed into
// it or out of it, or removed, is so on the disk once this returns. "" or
// "." is the working folder. POSIX: fsync of the folder opened read-only.
// Windows offers no call for a folder's entries (FlushFileBuffers takes
// files and, for administrators only, whole volumes); NTFS records every
// change of names in its journal and commits it within seconds by itself.
// There this only checks that folder is a folder, and a name changed in the
// last seconds before a power cut may still be lost.
int OsFolderSync(const char* folder);

// Whether OsFolderSync makes a folder's entries durable (POSIX), rather than
// only checking the folder (Windows): where it does, the removals of many
// files are made durable by one call.
bool OsFolderSyncIsDurable();

// Exclusive advisory lock on the whole open file, waiting for it; released by
// OsFileUnlock or by closing.
int OsFileLock(OsFile f);
// The same lock without waiting: OS_FILE_LOCKED when somebody else holds it.
int OsFileTryLock(OsFile f);
constexpr int OS_FILE_LOCKED = -33;
int OsFileUnlock(OsFile f);

// *same is true when path still names the very file that f has open (it was
// neither removed nor replaced since f was opened). A symbolic link at path
// names another file.
int OsFileIsAtPath(OsFile f, const char* path, bool* same);

int OsFileClose(OsFile* f);
int OsFileRemove(const char* path);
// Replaces to if it exists.
int OsFileRename(const char* from, const char* to);

int OsFileIdOf(OsFile f, OsFileId* id);
// The identity of what path names, and its size (when asked); a symbolic
// link is not followed.
int OsPathId(const char* path, OsFileId* id, uint64_t* size = nullptr);

// Opens an existing regular file for reading and appending, without
// following a symbolic link; refused, as by OsFileOpenUpdate, when nobody may
// write it. Every OsFileAppend lands at the file's end in one piece, and the
// file may be cut back with OsFileTruncate.
int OsFileOpenAppendExisting(const char* path, OsFile* f);
// Creates a new file for reading and appending as above, failing when path
// exists; readable and writable by its owner and group whatever the umask.
int OsFileCreateNew(const char* path, OsFile* f);

// Gives the file at from the new name to, in the same folder; fails when to
// exists already. A file that another program holds open without allowing
// it (Windows) is refused.
int OsFileRenameNew(const char* from, const char* to);

// Whether another process has f's file open for writing, as far as the
// system lets us tell. Where it can only tell that the file is open at all,
// a reader counts too. OS_OPEN_UNKNOWN where it cannot tell at all.
enum OsOpenElsewhere { OS_OPEN_NOWHERE_ELSE, OS_OPEN_ELSEWHERE, OS_OPEN_UNKNOWN };
OsOpenElsewhere OsFileWritersElsewhere(OsFile f);

// True where the file system takes names without regard to case.
bool OsFileNamesIgnoreCase();
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
