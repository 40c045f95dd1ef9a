#include "os_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int Fd(OsFile f) { return static_cast<int>(f.handle); }

int OpenWith(const char* path, int flags, mode_t mode, OsFile* f) {
  int fd;
  do {
    fd = open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  f->handle = fd;
  return 0;
}

}  // namespace

int OsFileOpenRead(const char* path, OsFile* f) { return OpenWith(path, O_RDONLY, 0, f); }

int OsFileOpenUpdate(const char* path, OsFile* f) {
  // root may open any file for writing; the permission bits still say whether
  // the owner wants it written, so they decide.
  struct stat st{};
  if (stat(path, &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EISDIR;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return EACCES;
  return OpenWith(path, O_RDWR, 0, f);
}

int OsFileOpenAppend(const char* path, OsFile* f) {
  return OpenWith(path, O_WRONLY | O_APPEND | O_CREAT, 0644, f);
}

int OsFileReadAt(OsFile f, uint64_t offset, void* buf, size_t n, size_t* got) {
  ssize_t r;
  do {
    r = pread(Fd(f), buf, n, static_cast<off_t>(offset));
  } while (r < 0 && errno == EINTR);
  if (r < 0) {
    *got = 0;
    return errno;
  }
  *got = static_cast<size_t>(r);
  return 0;
}

int OsFileWriteAt(OsFile f, uint64_t offset, const void* buf, size_t n) {
  const char* p = static_cast<const char*>(buf);
  while (n > 0) {
    ssize_t r = pwrite(Fd(f), p, n, static_cast<off_t>(offset));
    if (r < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    p += r;
    n -= static_cast<size_t>(r);
    offset += static_cast<uint64_t>(r);
  }
  return 0;
}

int OsFileAppend(OsFile f, const void* buf, size_t n) {
  const char* p = static_cast<const char*>(buf);
  while (n > 0) {
    ssize_t r = write(Fd(f), p, n);
    if (r < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    p += r;
    n -= static_cast<size_t>(r);
  }
  return 0;
}

int OsFileSize(OsFile f, uint64_t* size) {
  struct stat st{};
  if (fstat(Fd(f), &st) != 0) return errno;
  *size = static_cast<uint64_t>(st.st_size);
  return 0;
}

int OsFileTruncate(OsFile f, uint64_t size) {
  int r;
  do {
    r = ftruncate(Fd(f), static_cast<off_t>(size));
  } while (r != 0 && errno == EINTR);
  return r == 0 ? 0 : errno;
}

int OsFileLock(OsFile f) {
  int r;
  do {
    r = flock(Fd(f), LOCK_EX);
  } while (r != 0 && errno == EINTR);
  return r == 0 ? 0 : errno;
}

int OsFileUnlock(OsFile f) { return flock(Fd(f), LOCK_UN) == 0 ? 0 : errno; }

int OsFileIsAtPath(OsFile f, const char* path, bool* same) {
  struct stat open{}, named{};
  if (fstat(Fd(f), &open) != 0) return errno;
  if (stat(path, &named) != 0) {
    if (errno != ENOENT) return errno;
    *same = false;
    return 0;
  }
  *same = open.st_dev == named.st_dev && open.st_ino == named.st_ino;
  return 0;
}

int OsFileClose(OsFile* f) {
  if (f->handle < 0) return 0;
  int fd = Fd(*f);
  f->handle = -1;
  // After close the descriptor is gone even when close reports EINTR.
  return close(fd) == 0 || errno == EINTR ? 0 : errno;
}

int OsFileRemove(const char* path) { return unlink(path) == 0 ? 0 : errno; }

int OsFileRename(const char* from, const char* to) { return rename(from, to) == 0 ? 0 : errno; }

int OsPathSize(const char* path, uint64_t* size) {
  struct stat st{};
  if (stat(path, &st) != 0) return errno;
  *size = static_cast<uint64_t>(st.st_size);
  return 0;
}

namespace {

// O_NONBLOCK keeps the open of a FIFO or a device from waiting; what is
// not a regular file is refused, and the rest blocks as usual again.
int OpenRegular(const char* path, int flags, OsFile* f) {
  OsFile opened;
  int err = OpenWith(path, flags | O_NONBLOCK | O_NOCTTY, 0644, &opened);
  if (err != 0) return err;
  int fd = Fd(opened);
  struct stat st{};
  if (fstat(fd, &st) != 0) {
    err = errno;
  } else if (!S_ISREG(st.st_mode)) {
    err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  } else {
    int fl = fcntl(fd, F_GETFL);
    if (fl < 0 || fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) err = errno;
  }
  if (err != 0) {
    OsFileClose(&opened);
    return err;
  }
  *f = opened;
  return 0;
}

}  // namespace

int OsFileOpenReadRegular(const char* path, OsFile* f) { return OpenRegular(path, O_RDONLY, f); }

int OsFileOpenLog(const char* path, OsFile* f) {
  return OpenRegular(path, O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW, f);
}

int OsFileAppendWhole(OsFile f, const void* buf, size_t n) {
  const char* p = static_cast<const char*>(buf);
  size_t done = 0;
  while (done < n) {
    ssize_t r = write(Fd(f), p + done, n - done);
    if (r > 0) {
      done += static_cast<size_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    int err = r < 0 ? errno : EIO;
    // With O_APPEND the file offset is where our bytes ended.
    off_t end = lseek(Fd(f), 0, SEEK_CUR);
    struct stat st{};
    if (done > 0 && end >= static_cast<off_t>(done) && fstat(Fd(f), &st) == 0 && st.st_size == end) {
      OsFileTruncate(f, static_cast<uint64_t>(end) - done);
    }
    return err;
  }
  return 0;
}

int OsFileEmptyLog(OsFile f) { return OsFileTruncate(f, 0); }
