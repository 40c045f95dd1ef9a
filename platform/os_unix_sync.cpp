// Named objects on POSIX. They live as small files in a private runtime
// directory: an event is a one-byte state file ('1' set, '0' reset) read and
// written in place, so every process that has it open sees a change at its
// next test; the mutex is a lock file held with flock for the whole run, which
// the kernel drops when the holder dies, however it dies.
//
// An event lives as long as some process holds it, as a kernel event does:
// every open handle keeps a shared flock on the state file. A state file
// that nobody holds is what a process that died left behind; creating the
// event then starts it afresh in its initial state, and opening it fails as
// absent. Whether anybody holds it is decided only under an exclusive lock on
// a guard file of its own, held for the moment of the create or open, so two
// processes never both start it afresh and none finds it absent while
// another is creating it (flock's change from exclusive to shared is not
// atomic).
#include "os_sync.h"
#include "os_unix_robust.h"
#include "os_unix_wake.h"
#include "text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr unsigned PATH_CAP = 4096;

int Fd(intptr_t handle) { return static_cast<int>(handle); }

// How this process stands to the folder of the named objects. Its owner
// makes the objects; anybody else who may enter it (root, a member of the
// owner's group) is a visitor and only opens objects that exist: a file a
// visitor made there would belong to the visitor, and the owner could no
// longer open it at its next start.
struct Runtime {
  char dir[PATH_CAP] = "";
  bool visiting = false;
  uid_t owner = 0;
};

// A folder that holds named objects may be written by its owner alone, and
// is no symbolic link: anybody else who could write it could plant or
// replace the objects.
int CheckObjectDir(const char* dir, struct stat* st) {
  if (lstat(dir, st) != 0) return errno;
  if (S_ISLNK(st->st_mode)) return ELOOP;
  if (!S_ISDIR(st->st_mode)) return ENOTDIR;
  if ((st->st_mode & (S_IWGRP | S_IWOTH)) != 0) return EPERM;
  return 0;
}

int CopyOut(const char* text, char* buf, unsigned size) { return TextCopyWhole(buf, size, text) ? 0 : ENAMETOOLONG; }

// Takes dir, made (mode 0700) when missing: ours, or, where visitors are
// welcome, another user's that this process may enter.
int UseDir(const char* dir, bool mayVisit, Runtime* rt) {
  if (mkdir(dir, 0700) != 0 && errno != EEXIST) return errno;
  struct stat st{};
  int rc = CheckObjectDir(dir, &st);
  if (rc != 0) return rc;
  bool visiting = st.st_uid != geteuid();
  if (visiting && (!mayVisit || access(dir, X_OK) != 0)) return EPERM;
  rt->visiting = visiting;
  rt->owner = st.st_uid;
  return CopyOut(dir, rt->dir, sizeof rt->dir);
}

// The folder that holds the named objects, made on first use: the one
// TORMEL_RUNTIME_DIR names, else /run/tormel, else one below the user's
// runtime folder or /tmp. The first two may be another user's (the
// packaged service's, for its operators); the others are ours alone.
int RuntimeDir(Runtime* rt) {
  const char* chosen = getenv("TORMEL_RUNTIME_DIR");
  if (chosen != nullptr && chosen[0] != '\0') return UseDir(chosen, true, rt);
  // /run is writable by root only, so a /run/tormel that cannot be made, or
  // that we may not enter, is no threat, merely not for us: look further.
  if (UseDir("/run/tormel", true, rt) == 0) return 0;

  char dir[PATH_CAP];
  const char* xdg = getenv("XDG_RUNTIME_DIR");
  struct stat st{};
  if (xdg != nullptr && xdg[0] == '/' && CheckObjectDir(xdg, &st) == 0 && st.st_uid == geteuid()) {
    int n = snprintf(dir, sizeof dir, "%s/tormel", xdg);
    if (n < 0 || static_cast<unsigned>(n) >= sizeof dir) return ENAMETOOLONG;
  } else {
    // In /tmp anybody may have made the name first; such a directory is
    // refused, never used.
    snprintf(dir, sizeof dir, "/tmp/tormel-%lu", static_cast<unsigned long>(geteuid()));
  }
  return UseDir(dir, false, rt);
}

// An object name becomes a file name in the runtime directory, so it must
// not reach outside it.
int ObjectPath(const char* name, char* path, unsigned size, Runtime* rt) {
  if (name == nullptr || name[0] == '\0' || name[0] == '.' || strchr(name, '/') != nullptr)
    return EINVAL;
  int rc = RuntimeDir(rt);
  if (rc != 0) return rc;
  int n = snprintf(path, size, "%s/%s", rt->dir, name);
  if (n < 0 || static_cast<unsigned>(n) >= size) return ENAMETOOLONG;
  return 0;
}

// Who may use what (README): the owner everything; the owner's group may
// look at every object and set or reset the events (tormelctl stop);
// others nothing, as the folder keeps them out.
constexpr mode_t kLookMode = 0640;   // the mutex's lock file, the guards
constexpr mode_t kEventMode = 0660;  // an event's state file

// Opens an object file; with O_CREAT in flags its owner makes it when
// missing, with exactly mode whatever the umask. A visitor makes nothing:
// what is missing is refused (EACCES) when it was to be made, and absent
// (ENOENT) otherwise; it opens only files of the folder's owner with no
// other name, which it may then write (a stop).
int OpenObject(const char* path, int flags, mode_t mode, const Runtime& rt, int* fd) {
  const bool create = (flags & O_CREAT) != 0;
  if (rt.visiting) flags &= ~O_CREAT;
  int f = OsUnixOpen(path, flags | O_NOFOLLOW, mode);
  if (f < 0) return errno == ENOENT && create && rt.visiting ? EACCES : errno;
  struct stat st{};
  int err = 0;
  if (fstat(f, &st) != 0) {
    err = errno;
  } else if (!S_ISREG(st.st_mode)) {
    err = EINVAL;
  } else if (rt.visiting && (st.st_uid != rt.owner || st.st_nlink != 1)) {
    err = EPERM;
  } else if (create && !rt.visiting && (st.st_mode & 07777) != mode && fchmod(f, mode) != 0) {
    err = errno;
  }
  if (err != 0) {
    OsUnixClose(f);
    return err;
  }
  *fd = f;
  return 0;
}

// A visitor that may only read an event holds it read-only: its write is
// refused for what it is, a permission the caller lacks.
int WriteState(int fd, char state) {
  int rc = OsUnixWriteAll(fd, &state, 1, 0);
  return rc == EBADF && fcntl(fd, F_GETFL) >= 0 ? EACCES : rc;
}

// Takes the guard of the named object: "<dir>/.<name>.guard", a name no
// object can have, since object names never begin with a dot.
int TakeGuard(const char* path, const Runtime& rt, int* guard) {
  char guardPath[PATH_CAP];
  const char* slash = strrchr(path, '/');
  int n = snprintf(guardPath, sizeof guardPath, "%.*s/.%s.guard", static_cast<int>(slash - path), path, slash + 1);
  if (n < 0 || static_cast<unsigned>(n) >= sizeof guardPath) return ENAMETOOLONG;
  // flock needs no write access: the group may take the guard too. A
  // visitor finds a missing guard absent (ENOENT), as the object it guards.
  int rc = OpenObject(guardPath, rt.visiting ? O_RDONLY : O_RDONLY | O_CREAT, kLookMode, rt, guard);
  if (rc != 0) return rc;
  rc = OsUnixFlock(*guard, LOCK_EX);
  if (rc != 0) OsUnixClose(*guard);
  return rc;
}

// Under the guard: holds the event open in fd. One that nobody holds is
// started afresh in initialState, or, without one (an open), is absent.
int HoldEvent(int fd, const char* initialState) {
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    if (initialState == nullptr) return ENOENT;
    int rc = WriteState(fd, *initialState);
    if (rc != 0) return rc;
  } else if (errno != EWOULDBLOCK) {
    return errno;
  }
  // Only holders' shared locks and guarded tests exist, so this never waits
  // for long.
  return OsUnixFlock(fd, LOCK_SH);
}

int GetEvent(const char* name, const char* initialState, OsEvent* ev) {
  char path[PATH_CAP];
  Runtime rt;
  int rc = ObjectPath(name, path, sizeof path, &rt);
  if (rc != 0) return rc;
  int guard;
  rc = TakeGuard(path, rt, &guard);
  // A visitor finds an event absent when its guard is: nobody made it.
  if (rc == ENOENT && initialState != nullptr) rc = EACCES;
  if (rc != 0) return rc;
  int fd = -1;
  rc = OpenObject(path, initialState != nullptr ? O_RDWR | O_CREAT : O_RDWR, kEventMode, rt, &fd);
  // A member of the group that may not write an event may still look at it.
  if (rc == EACCES && rt.visiting) rc = OpenObject(path, O_RDONLY, kEventMode, rt, &fd);
  if (rc == 0) rc = HoldEvent(fd, initialState);
  OsUnixClose(guard);
  if (rc != 0) {
    if (fd >= 0) OsUnixClose(fd);
    return rc;
  }
  ev->handle = fd;
  return 0;
}

}  // namespace

int OsEventCreate(const char* name, bool initiallySet, OsEvent* ev) {
  const char state = initiallySet ? '1' : '0';
  return GetEvent(name, &state, ev);
}

int OsEventOpen(const char* name, OsEvent* ev) { return GetEvent(name, nullptr, ev); }

int OsEventSet(OsEvent ev) { return WriteState(Fd(ev.handle), '1'); }

int OsEventReset(OsEvent ev) { return WriteState(Fd(ev.handle), '0'); }

int OsEventIsSet(OsEvent ev) {
  char state = 0;
  if (OsUnixRetry([&] { return pread(Fd(ev.handle), &state, 1, 0); }) != 1) return -1;
  return state == '1' ? 1 : state == '0' ? 0 : -1;
}

void OsEventClose(OsEvent* ev) {
  if (ev->handle < 0) return;
  OsUnixStopEventClosing(Fd(ev->handle));
  OsUnixClose(Fd(ev->handle));
  ev->handle = -1;
}

int OsMutexClaim(const char* name, OsMutex* m) {
  char path[PATH_CAP];
  Runtime rt;
  int rc = ObjectPath(name, path, sizeof path, &rt);
  if (rc != 0) return rc;
  // The lock file is never removed: removing it would let a newcomer lock a
  // fresh file while the holder still holds the old one.
  int fd = -1;
  rc = OpenObject(path, O_RDWR | O_CREAT, kLookMode, rt, &fd);
  if (rc != 0) return rc;
  // A status probe (OsMutexIsHeld) takes the lock for a moment; a few quick
  // retries keep a starting service from taking that for another instance.
  int tries = 0;
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    if ((err == EWOULDBLOCK || err == EINTR) && ++tries < 10) {
      struct timespec pause{0, 5 * 1000000};
      nanosleep(&pause, nullptr);
      continue;
    }
    OsUnixClose(fd);
    return err == EWOULDBLOCK ? OS_ALREADY_EXISTS : err;
  }
  // The holder's process id, for those who ask who holds it; a holder that
  // died leaves its number behind in a file nobody holds, which says nothing.
  char pid[24];
  int n = snprintf(pid, sizeof pid, "%ld\n", static_cast<long>(getpid()));
  if (ftruncate(fd, 0) == 0) OsUnixWriteAll(fd, pid, static_cast<size_t>(n), 0);
  m->handle = fd;
  return 0;
}

int OsMutexIsHeld(const char* name, int* error, long* holder) {
  int ignored;
  if (error == nullptr) error = &ignored;
  if (holder != nullptr) *holder = 0;
  char path[PATH_CAP];
  Runtime rt;
  *error = ObjectPath(name, path, sizeof path, &rt);
  if (*error != 0) return -1;
  int fd = -1;
  int rc = OpenObject(path, O_RDONLY, kLookMode, rt, &fd);
  if (rc == ENOENT) return 0;
  if (rc != 0) {
    *error = rc;
    return -1;
  }
  // flock locks belong to the open file description, so this probe conflicts
  // with any holder, this process included.
  int held;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    flock(fd, LOCK_UN);
    held = 0;
  } else {
    held = errno == EWOULDBLOCK ? 1 : -1;
    if (held < 0) *error = errno;
  }
  if (held == 1 && holder != nullptr) {
    // A holder that has just claimed it may not have written its number yet.
    char text[24] = {};
    ssize_t got = OsUnixRetry([&] { return pread(fd, text, sizeof text - 1, 0); });
    long pid = got > 0 ? strtol(text, nullptr, 10) : 0;
    *holder = pid > 0 ? pid : 0;
  }
  OsUnixClose(fd);
  return held;
}

int OsRuntimeFolder(char* buf, unsigned size) {
  Runtime rt;
  int rc = RuntimeDir(&rt);
  return rc != 0 ? rc : CopyOut(rt.dir, buf, size);
}

void OsMutexRelease(OsMutex* m) {
  if (m->handle < 0) return;
  OsUnixClose(Fd(m->handle));
  m->handle = -1;
}
