// Files on Windows. Every open shares reading, writing and deletion: the
// service reads and marks a buffer file while producers append to it, and it
// removes a delivered file while it still holds it open and locked.
//
// A removed file that some process still has open is only "delete pending"
// on Windows: its name stays until the last handle closes, and opening that
// name fails with ERROR_ACCESS_DENIED meanwhile (Wine even opens the doomed
// file, so that what is appended to it is lost). OsFileRemove therefore first
// renames the file to a name of its own and removes it there: the path is
// free at once, and a producer that holds the old file open finds that it is
// no longer at its path. Should a delete-pending file still be met, a
// producer's append open waits a little for the name to become free, and the
// file is never "at its path".
//
// Byte-range locks on Windows are mandatory: a locked range refuses the
// reads and writes of every other handle. The lock of OsFileLock is one byte
// far beyond any content a file can have, so it excludes other lockers only,
// as an advisory lock does, and the service may read and mark while a
// producer holds it.
#include <windows.h>

#include <cstdio>

#include "os_file.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr uint64_t kLockOffset = 0x4000000000000000ull;
constexpr int kDeletePendingTries = 200;  // 5 ms each: a second in all

HANDLE H(OsFile f) { return reinterpret_cast<HANDLE>(f.handle); }

int LastError() { return static_cast<int>(GetLastError()); }

int Open(const char* path, DWORD access, DWORD disposition, OsFile* f) {
  HANDLE h = CreateFileA(path, access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  f->handle = reinterpret_cast<intptr_t>(h);
  return 0;
}

OVERLAPPED OverlappedAt(uint64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(offset);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

// Opens path and makes sure on the opened handle that it is a file on a
// disk: a device (NUL, CON, COM1), a pipe or a folder is refused, and,
// unless links are followed, a symbolic link or junction too; so is a file
// marked read-only when writing is wanted.
int OpenRegular(const char* path, DWORD access, DWORD disposition, bool followLinks, bool needWritable,
                OsFile* f, BY_HANDLE_FILE_INFORMATION* seen = nullptr) {
  DWORD flags = FILE_ATTRIBUTE_NORMAL | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE h = CreateFileA(path, access, kShareAll, nullptr, disposition, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  int err = 0;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h) != FILE_TYPE_DISK) {
    err = ERROR_BAD_FILE_TYPE;
  } else if (!GetFileInformationByHandle(h, &info)) {
    err = LastError();
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    err = ERROR_DIRECTORY;
  } else if (!followLinks && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    err = ERROR_CANT_ACCESS_FILE;
  } else if (needWritable && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
    err = ERROR_ACCESS_DENIED;
  }
  if (err != 0) {
    CloseHandle(h);
    return err;
  }
  if (seen != nullptr) *seen = info;
  f->handle = reinterpret_cast<intptr_t>(h);
  return 0;
}

OsFileId IdOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return OsFileId{info.dwVolumeSerialNumber,
                  (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

uint64_t SizeOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

// FILETIME counts 100 ns since 1601-01-01: milliseconds since 1970, 0 for
// a time before.
uint64_t MsSince1970(const FILETIME& t) {
  constexpr uint64_t kFrom1601To1970Ms = 11644473600000ull;
  uint64_t ms = ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000;
  return ms > kFrom1601To1970Ms ? ms - kFrom1601To1970Ms : 0;
}

bool DeletePending(HANDLE h) {
  FILE_STANDARD_INFO info{};
  return GetFileInformationByHandleEx(h, FileStandardInfo, &info, sizeof info) && info.DeletePending;
}

// act(handle) on f's handle, or, where a handle that may only append is
// refused (it may not cut, and is not always let flush), on a second one
// to the same file, which may.
template <typename Act>
int OnWritableHandle(OsFile f, Act act) {
  if (act(H(f))) return 0;
  DWORD err = GetLastError();
  if (err != ERROR_ACCESS_DENIED) return static_cast<int>(err);
  HANDLE writer = ReOpenFile(H(f), GENERIC_WRITE, kShareAll, 0);
  if (writer == INVALID_HANDLE_VALUE) return LastError();
  int rc = act(writer) ? 0 : LastError();
  CloseHandle(writer);
  return rc;
}

}  // namespace

int OsFileOpenUpdate(const char* path, OsFile* f, OsFileInfo* info) {
  // An administrator may write a read-only file's data through some paths;
  // the attribute still says the owner wants it left alone, so it decides.
  BY_HANDLE_FILE_INFORMATION seen{};
  int rc = OpenRegular(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, false, true, f, &seen);
  if (rc == 0 && info != nullptr) *info = OsFileInfo{IdOf(seen), SizeOf(seen), MsSince1970(seen.ftCreationTime)};
  return rc;
}

int OsFileOpenReadNoFollow(const char* path, OsFile* f) {
  return OpenRegular(path, GENERIC_READ, OPEN_EXISTING, false, false, f);
}

int OsFileOpenAppend(const char* path, OsFile* f) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of
  // the file in one piece, whoever else appends.
  // Write access to a read-only file may be granted to a privileged caller;
  // the attribute is respected all the same, as by OsFileOpenUpdate.
  DWORD existing = GetFileAttributesA(path);
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) != 0) return ERROR_ACCESS_DENIED;
  int err = 0;
  for (int tries = 0; tries < kDeletePendingTries; ++tries) {
    err = Open(path, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS, f);
    if (err != ERROR_ACCESS_DENIED) return err;
    // Denied also for a read-only file or a folder: those never change, so
    // only a name that is still there waits for its last handle to close.
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
      return err;
    Sleep(5);
  }
  return err;
}

int OsFileReadAt(OsFile f, uint64_t offset, void* buf, size_t n, size_t* got) {
  *got = 0;
  DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
  OVERLAPPED o = OverlappedAt(offset);
  DWORD read = 0;
  if (!ReadFile(H(f), buf, want, &read, &o)) {
    int err = LastError();
    return err == ERROR_HANDLE_EOF ? 0 : err;
  }
  *got = read;
  return 0;
}

int OsFileWriteAt(OsFile f, uint64_t offset, const void* buf, size_t n) {
  const char* p = static_cast<const char*>(buf);
  while (n > 0) {
    DWORD chunk = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
    OVERLAPPED o = OverlappedAt(offset);
    DWORD written = 0;
    if (!WriteFile(H(f), p, chunk, &written, &o)) return LastError();
    if (written == 0) return ERROR_WRITE_FAULT;
    p += written;
    n -= written;
    offset += written;
  }
  return 0;
}

int OsFileAppend(OsFile f, const void* buf, size_t n) {
  if (n > 0xffffffffu) return ERROR_INVALID_PARAMETER;
  // Both offsets all ones: the write goes to the end of the file as it is
  // at that moment, whoever else appends, whatever access the handle has.
  OVERLAPPED atEnd{};
  atEnd.Offset = 0xffffffffu;
  atEnd.OffsetHigh = 0xffffffffu;
  DWORD written = 0;
  if (!WriteFile(H(f), buf, static_cast<DWORD>(n), &written, &atEnd)) return LastError();
  return written == n ? 0 : ERROR_WRITE_FAULT;
}

int OsFileSize(OsFile f, uint64_t* size) {
  LARGE_INTEGER s;
  if (!GetFileSizeEx(H(f), &s)) return LastError();
  *size = static_cast<uint64_t>(s.QuadPart);
  return 0;
}

int OsFileTruncate(OsFile f, uint64_t size) {
  FILE_END_OF_FILE_INFO info{};
  info.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  return OnWritableHandle(
      f, [&](HANDLE h) { return SetFileInformationByHandle(h, FileEndOfFileInfo, &info, sizeof info); });
}

int OsFileSync(OsFile f) { return OnWritableHandle(f, [](HANDLE h) { return FlushFileBuffers(h); }); }

int OsFolderSync(const char* folder) {
  DWORD attributes = GetFileAttributesA(folder[0] == '\0' ? "." : folder);
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : ERROR_DIRECTORY;
}

bool OsFolderSyncIsDurable() { return false; }

int OsFileLock(OsFile f) {
  OVERLAPPED o = OverlappedAt(kLockOffset);
  return LockFileEx(H(f), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &o) ? 0 : LastError();
}

int OsFileTryLock(OsFile f) {
  OVERLAPPED o = OverlappedAt(kLockOffset);
  if (LockFileEx(H(f), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &o)) return 0;
  DWORD err = GetLastError();
  return err == ERROR_LOCK_VIOLATION || err == ERROR_IO_PENDING ? OS_FILE_LOCKED : static_cast<int>(err);
}

int OsFileUnlock(OsFile f) {
  OVERLAPPED o = OverlappedAt(kLockOffset);
  return UnlockFileEx(H(f), 0, 1, 0, &o) ? 0 : LastError();
}

int OsFileIsAtPath(OsFile f, const char* path, bool* same) {
  *same = false;
  OsFileId open, named;
  int err = OsFileIdOf(f, &open);
  if (err != 0 || DeletePending(H(f))) return err;
  err = OsPathId(path, &named);
  // Gone, or delete pending (denied): not the file we have.
  if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_ACCESS_DENIED) return 0;
  *same = err == 0 && open == named;
  return err;
}

int OsFileClose(OsFile* f) {
  if (f->handle == -1) return 0;
  HANDLE h = H(*f);
  f->handle = -1;
  return CloseHandle(h) ? 0 : LastError();
}

int OsFileRemove(const char* path) {
  // The temporary name is in the same folder, so the rename never copies.
  static LONG counter = 0;
  char doomed[MAX_PATH * 2];
  snprintf(doomed, sizeof doomed, "%s.%lu-%ld.removed", path, static_cast<unsigned long>(GetCurrentProcessId()),
           static_cast<long>(InterlockedIncrement(&counter)));
  if (!MoveFileExA(path, doomed, 0)) return DeleteFileA(path) ? 0 : LastError();
  if (DeleteFileA(doomed)) return 0;
  int err = LastError();
  MoveFileExA(doomed, path, 0);  // not removable: the file goes back to its name
  return err;
}

int OsFileRename(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 0 : LastError();
}

int OsFileIdOf(OsFile f, OsFileId* id) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(H(f), &info)) return LastError();
  *id = IdOf(info);
  return 0;
}

int OsPathId(const char* path, OsFileId* id, uint64_t* size) {
  // No access rights: only the identity is asked for.
  HANDLE h = CreateFileA(path, 0, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  BY_HANDLE_FILE_INFORMATION info{};
  int rc = GetFileInformationByHandle(h, &info) ? 0 : LastError();
  CloseHandle(h);
  if (rc == 0) *id = IdOf(info);
  if (rc == 0 && size != nullptr) *size = SizeOf(info);
  return rc;
}

// Appending only: the system puts every write at the end. Cutting a failed
// write back takes a second handle (OsFileTruncate).
constexpr DWORD kReadAppend = GENERIC_READ | FILE_APPEND_DATA | SYNCHRONIZE;

int OsFileOpenAppendExisting(const char* path, OsFile* f) {
  return OpenRegular(path, kReadAppend, OPEN_EXISTING, false, true, f);
}

int OsFileCreateNew(const char* path, OsFile* f) { return Open(path, kReadAppend, CREATE_NEW, f); }

int OsFileRenameNew(const char* from, const char* to) { return MoveFileExA(from, to, 0) ? 0 : LastError(); }

// Handles of other processes cannot be asked for cheaply; what Windows gives
// instead is that a file held open without delete sharing cannot be renamed.
OsOpenElsewhere OsFileWritersElsewhere(OsFile) { return OS_OPEN_UNKNOWN; }

bool OsFileNamesIgnoreCase() { return true; }

int OsFileOpenReadRegular(const char* path, OsFile* f) {
  return OpenRegular(path, GENERIC_READ, OPEN_EXISTING, true, false, f);
}

int OsFileOpenLog(const char* path, OsFile* f) {
  // Appending only, as OsFileOpenAppend: every write lands at the end.
  return OpenRegular(path, FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, OPEN_ALWAYS,
                     false, false, f);
}

int OsFileAppendWhole(OsFile f, const void* buf, size_t n) {
  // Where the system finds the end and writes there in two steps (Wine
  // does), writers of several processes would overwrite each other's
  // entries: the lock of OsFileLock, held for the one write, keeps them
  // apart.
  int err = OsFileLock(f);
  if (err != 0) return err;
  err = OsFileAppend(f, buf, n);
  OsFileUnlock(f);
  return err;
}
