#include "os_file.h"
#include "tormel.h"

int TormelAppendLine(const char* path, const char* line, size_t length) {
  for (;;) {
    OsFile f;
    int err = OsFileOpenAppend(path, &f);
    if (err != 0) return err;
    err = OsFileLock(f);
    bool current = false;
    if (err == 0) err = OsFileIsAtPath(f, path, &current);
    // The service removed the file while we waited: its records are all
    // delivered, and ours goes into a new one.
    if (err == 0 && !current) {
      OsFileClose(&f);
      continue;
    }
    if (err == 0) err = OsFileAppend(f, line, length);
    int closeErr = OsFileClose(&f);
    return err != 0 ? err : closeErr;
  }
}
