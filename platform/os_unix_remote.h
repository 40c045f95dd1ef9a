// Between the POSIX platform files only: whether a file system serves what
// lies on another machine, or behind a program of its own (FUSE): the
// changes made elsewhere are not told there.
#pragma once
#include <sys/vfs.h>

inline bool OsUnixRemoteFileSystem(const struct statfs& fs) {
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969:      // NFS
    case 0x517B:      // SMB
    case 0xFF534D42:  // CIFS
    case 0xFE534D42:  // SMB2
    case 0x01021997:  // 9P
    case 0x00C36400:  // Ceph
    case 0x5346414F:  // AFS
    case 0x65735546:  // FUSE
      return true;
    default:
      return false;
  }
}
