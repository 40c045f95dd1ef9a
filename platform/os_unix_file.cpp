#include "os_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "os_unix_robust.h"

namespace {

int Fd(OsFile f) { return static_cast<int>(f.handle); }

int OpenWith(const char* path, int flags, mode_t mode, OsFile* f) {
  int fd = OsUnixOpen(path, flags, mode);
  if (fd < 0) return errno;
  f->handle = fd;
  return 0;
}

// One look at an open file: its type and mode, identity, size and birth.
int LookAt(int fd, mode_t* mode, OsFileInfo* info) {
#ifdef STATX_BTIME
  struct statx st{};
  if (statx(fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_MODE | STATX_INO | STATX_SIZE | STATX_BTIME, &st) != 0)
    return errno;
  *mode = st.stx_mode;
  info->id = OsFileId{static_cast<uint64_t>(makedev(st.stx_dev_major, st.stx_dev_minor)), st.stx_ino};
  info->size = st.stx_size;
  info->bornMs = (st.stx_mask & STATX_BTIME) != 0
                     ? static_cast<uint64_t>(st.stx_btime.tv_sec) * 1000u + st.stx_btime.tv_nsec / 1000000u
                     : 0;
#else
  struct stat st{};
  if (fstat(fd, &st) != 0) return errno;
  *mode = st.st_mode;
  info->id = OsFileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  info->size = static_cast<uint64_t>(st.st_size);
  info->bornMs = 0;
#endif
  return 0;
}

// Opens path without waiting (a FIFO would block an open for reading until
// a writer comes, a device may wait for its hardware), then makes sure on
// the opened file that it is a regular one, writable by somebody if asked.
// A regular file never waits in a read or write, so O_NONBLOCK stays. A
// file that O_CREAT makes gets mode 0644.
int OpenRegular(const char* path, int flags, bool needWritable, OsFile* f, OsFileInfo* info = nullptr) {
  OsFile g;
  int rc = OpenWith(path, flags | O_NONBLOCK | O_NOCTTY, 0644, &g);
  if (rc != 0) return rc;
  mode_t mode = 0;
  OsFileInfo seen;
  if ((rc = LookAt(Fd(g), &mode, &seen)) != 0) {
  } else if (!S_ISREG(mode)) {
    rc = S_ISDIR(mode) ? EISDIR : EINVAL;
  } else if (needWritable && (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    rc = EACCES;
  }
  if (rc != 0) {
    OsUnixClose(Fd(g));
    return rc;
  }
  if (info != nullptr) *info = seen;
  *f = g;
  return 0;
}

}  // namespace

int OsFileOpenUpdate(const char* path, OsFile* f, OsFileInfo* info) {
  // root may open any file for writing; the permission bits still say whether
  // the owner wants it written, so they decide.
  return OpenRegular(path, O_RDWR | O_NOFOLLOW, true, f, info);
}

int OsFileOpenReadNoFollow(const char* path, OsFile* f) { return OpenRegular(path, O_RDONLY | O_NOFOLLOW, false, f); }

int OsFileOpenAppend(const char* path, OsFile* f) {
  return OpenWith(path, O_WRONLY | O_APPEND | O_CREAT, 0644, f);
}

int OsFileReadAt(OsFile f, uint64_t offset, void* buf, size_t n, size_t* got) {
  ssize_t r = OsUnixRetry([&] { return pread(Fd(f), buf, n, static_cast<off_t>(offset)); });
  *got = r < 0 ? 0 : static_cast<size_t>(r);
  return r < 0 ? errno : 0;
}

int OsFileWriteAt(OsFile f, uint64_t offset, const void* buf, size_t n) {
  return OsUnixWriteAll(Fd(f), buf, n, static_cast<int64_t>(offset));
}

int OsFileAppend(OsFile f, const void* buf, size_t n) { return OsUnixWriteAll(Fd(f), buf, n, -1); }

int OsFileSize(OsFile f, uint64_t* size) {
  struct stat st{};
  if (fstat(Fd(f), &st) != 0) return errno;
  *size = static_cast<uint64_t>(st.st_size);
  return 0;
}

int OsFileTruncate(OsFile f, uint64_t size) {
  return OsUnixRetry([&] { return ftruncate(Fd(f), static_cast<off_t>(size)); }) == 0 ? 0 : errno;
}

int OsFileSync(OsFile f) { return OsUnixRetry([&] { return fdatasync(Fd(f)); }) == 0 ? 0 : errno; }

int OsFolderSync(const char* folder) {
  int fd = OsUnixOpen(folder[0] == '\0' ? "." : folder, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return errno;
  int rc = OsUnixRetry([&] { return fsync(fd); }) == 0 ? 0 : errno;
  OsUnixClose(fd);
  return rc;
}

bool OsFolderSyncIsDurable() { return true; }

int OsFileLock(OsFile f) { return OsUnixFlock(Fd(f), LOCK_EX); }

int OsFileTryLock(OsFile f) {
  int rc = OsUnixFlock(Fd(f), LOCK_EX | LOCK_NB);
  return rc == EWOULDBLOCK ? OS_FILE_LOCKED : rc;
}

int OsFileUnlock(OsFile f) { return OsUnixFlock(Fd(f), LOCK_UN); }

int OsFileIsAtPath(OsFile f, const char* path, bool* same) {
  OsFileId open, named;
  int err = OsFileIdOf(f, &open);
  if (err != 0) return err;
  err = OsPathId(path, &named);
  *same = err == 0 && open == named;
  return err == ENOENT ? 0 : err;
}

int OsFileClose(OsFile* f) {
  if (f->handle < 0) return 0;
  int fd = Fd(*f);
  f->handle = -1;
  return OsUnixClose(fd);
}

int OsFileRemove(const char* path) { return unlink(path) == 0 ? 0 : errno; }

int OsFileRename(const char* from, const char* to) { return rename(from, to) == 0 ? 0 : errno; }

namespace {

OsFileId IdOf(const struct stat& st) {
  return OsFileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// Which of the accesses of an open file description /proc/<pid>/fdinfo/<fd>
// tells; true when it was opened for writing, or when that cannot be read.
bool OpenForWriting(const char* fdinfo) {
  FILE* in = fopen(fdinfo, "re");
  if (in == nullptr) return true;
  char line[128];
  bool writing = true;
  while (fgets(line, sizeof line, in) != nullptr) {
    if (strncmp(line, "flags:", 6) == 0) {
      long flags = strtol(line + 6, nullptr, 8);
      writing = (flags & O_ACCMODE) != O_RDONLY;
      break;
    }
  }
  fclose(in);
  return writing;
}

// Looks through the open files of every process whose /proc entries we may
// read for the file id, opened for writing; our own descriptor ownFd does
// not count. A process whose descriptors we may not see makes a search
// that found nothing inconclusive.
OsOpenElsewhere SearchProc(const OsFileId& id, int ownFd) {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return OS_OPEN_UNKNOWN;
  const long self = static_cast<long>(getpid());
  bool complete = true;
  bool found = false;
  for (dirent* p; !found && (p = readdir(proc)) != nullptr;) {
    char* end = nullptr;
    long pid = strtol(p->d_name, &end, 10);
    if (end == p->d_name || *end != '\0') continue;
    char path[64];
    snprintf(path, sizeof path, "/proc/%ld/fd", pid);
    DIR* fds = opendir(path);
    if (fds == nullptr) {
      if (errno != ENOENT) complete = false;  // ENOENT: it has ended meanwhile
      continue;
    }
    while (dirent* d = readdir(fds)) {
      if (d->d_name[0] == '.') continue;
      if (pid == self && atoi(d->d_name) == ownFd) continue;
      char link[320];
      snprintf(link, sizeof link, "/proc/%ld/fd/%s", pid, d->d_name);
      struct stat st{};
      if (stat(link, &st) != 0 || !(IdOf(st) == id)) continue;
      char info[320];
      snprintf(info, sizeof info, "/proc/%ld/fdinfo/%s", pid, d->d_name);
      if (OpenForWriting(info)) {
        found = true;
        break;
      }
    }
    closedir(fds);
  }
  closedir(proc);
  if (found) return OS_OPEN_ELSEWHERE;
  return complete ? OS_OPEN_NOWHERE_ELSE : OS_OPEN_UNKNOWN;
}

// The lease asks the kernel whether any other descriptor of the file is
// open: granted only when none is. Breaking it would raise SIGIO in this
// process, which must never end it; the lease is let go at once anyway.
// 1 granted (nobody else), 0 open elsewhere, -1 not available here.
int LeaseSaysAlone(int fd) {
#ifdef F_SETLEASE
  static const int ignoring = OsUnixIgnoreSignal(SIGIO);
  (void)ignoring;
  if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
    fcntl(fd, F_SETLEASE, F_UNLCK);
    return 1;
  }
  return errno == EAGAIN || errno == EBUSY ? 0 : -1;
#else
  (void)fd;
  return -1;
#endif
}

}  // namespace

int OsFileIdOf(OsFile f, OsFileId* id) {
  struct stat st{};
  if (fstat(Fd(f), &st) != 0) return errno;
  *id = IdOf(st);
  return 0;
}

int OsPathId(const char* path, OsFileId* id, uint64_t* size) {
  struct stat st{};
  if (lstat(path, &st) != 0) return errno;
  *id = IdOf(st);
  if (size != nullptr) *size = static_cast<uint64_t>(st.st_size);
  return 0;
}

int OsFileOpenAppendExisting(const char* path, OsFile* f) {
  return OpenRegular(path, O_RDWR | O_APPEND | O_NOFOLLOW, true, f);
}

int OsFileCreateNew(const char* path, OsFile* f) {
  constexpr mode_t kMode = 0660;
  int rc = OpenWith(path, O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW, kMode, f);
  if (rc != 0) return rc;
  // The umask of whoever creates the file must not keep the service out.
  if (fchmod(Fd(*f), kMode) != 0) {
    rc = errno;
    OsFileClose(f);
    unlink(path);
  }
  return rc;
}

int OsFileRenameNew(const char* from, const char* to) {
#ifdef RENAME_NOREPLACE
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
#endif
  // Where the file system cannot rename without replacing: a second name
  // that link refuses when taken, then the first name goes.
  if (link(from, to) != 0) return errno;
  return unlink(from) == 0 ? 0 : errno;
}

OsOpenElsewhere OsFileWritersElsewhere(OsFile f) {
  int alone = LeaseSaysAlone(Fd(f));
  if (alone == 1) return OS_OPEN_NOWHERE_ELSE;
  OsFileId id;
  if (OsFileIdOf(f, &id) != 0) return alone == 0 ? OS_OPEN_ELSEWHERE : OS_OPEN_UNKNOWN;
  OsOpenElsewhere searched = SearchProc(id, Fd(f));
  // The lease saw some descriptor; only a complete search may say it is
  // nobody's writer.
  if (alone == 0 && searched == OS_OPEN_UNKNOWN) return OS_OPEN_ELSEWHERE;
  return searched;
}

bool OsFileNamesIgnoreCase() { return false; }
int OsFileOpenReadRegular(const char* path, OsFile* f) { return OpenRegular(path, O_RDONLY, false, f); }

int OsFileOpenLog(const char* path, OsFile* f) {
  return OpenRegular(path, O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW, false, f);
}

int OsFileAppendWhole(OsFile f, const void* buf, size_t n) {
  size_t done = 0;
  int err = OsUnixWriteAll(Fd(f), buf, n, -1, &done);
  if (err == 0) return 0;
  // With O_APPEND the file offset is where our bytes ended.
  off_t end = lseek(Fd(f), 0, SEEK_CUR);
  struct stat st{};
  if (done > 0 && end >= static_cast<off_t>(done) && fstat(Fd(f), &st) == 0 && st.st_size == end) {
    OsFileTruncate(f, static_cast<uint64_t>(end) - done);
  }
  return err;
}
