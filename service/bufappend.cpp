// What a producer does: append one whole line to a buffer file.
#include <chrono>
#include <thread>

#include "buffile.h"
#include "buffile_internal.h"
#include "os_time.h"
#include "tormel.h"

namespace {

constexpr uint64_t kLockWaitMs = 30000;  // another producer holding the lock longer is stuck
// Between our open and our create another producer may create the file, and
// the service retire it again before our next open; among many producers
// that goes on a while.
constexpr int kCreateRaces = 100;

// The lock, waited for within kLockWaitMs.
int LockWithin(OsFile f) {
  const uint64_t deadline = OsMonotonicMs() + kLockWaitMs;
  for (;;) {
    int rc = OsFileTryLock(f);
    if (rc != OS_FILE_LOCKED || OsMonotonicMs() >= deadline) return rc;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int LastByte(OsFile f, uint64_t size, char* last) {
  size_t got = 0;
  int rc = OsFileReadAt(f, size - 1, last, 1, &got);
  return rc != 0 ? rc : got == 1 ? 0 : -1;
}

// A record counts as written only once it would survive a power cut: its
// data synced, and, in a file that is new, the file's name in its folder.
// A file this put did not create but finds empty may be another put's new
// file whose name that one has yet to sync: it syncs the folder as well.
int MakeDurable(const char* path, OsFile f, bool newFile) {
  int rc = OsFileSync(f);
  if (rc == 0 && newFile) rc = OsFolderSync(BufFolderPart(path).c_str());
  return rc;
}

// Under the lock: makes the file end where a new line may begin, appends
// and syncs; a failed write or sync is cut back to the size before it.
int AppendLocked(const char* path, OsFile f, bool created, const char* line, size_t length, BufAppendStep* step) {
  uint64_t size = 0;
  int rc = OsFileSize(f, &size);
  if (rc != 0) return rc;
  char last = '\n';
  if (size > 0 && (rc = LastByte(f, size, &last)) != 0) return rc;
  // An old-style producer's closing CTRL-Z would hide this record from the
  // service. An appending handle cannot write in place: a second one does.
  if (last == TORMEL_CTRL_Z) {
    OsFile update;
    if ((rc = OsFileOpenUpdate(path, &update)) != 0) return rc;
    rc = BufReplaceClosingMark(update);
    OsFileClose(&update);
    if (rc != 0 || (rc = LastByte(f, size, &last)) != 0) return rc;
  }
  // A last line without line end (a producer that stopped half-way) must
  // not swallow this record.
  std::string text = last == '\n' ? std::string() : std::string("\r\n");
  text.append(line, length);
  rc = OsFileAppend(f, text.data(), text.size());
  if (rc == 0) {
    *step = BufAppendStep::Sync;
    rc = MakeDurable(path, f, created || size == 0);
  }
  if (rc != 0) OsFileTruncate(f, size);  // no half record stays behind
  return rc;
}

}  // namespace

std::string BufRecordLine(const std::string& ip, const std::string& record) {
  std::string line = "$";
  line.resize(TORMEL_ADDRESS_COLUMN, ' ');
  line += ip;
  line.resize(TORMEL_CONTENT_COLUMN, ' ');
  line += record;
  line += "\r\n";
  return line;
}

int BufAppendLine(const char* path, const char* line, size_t length, BufAppendStep* failed) {
  BufAppendStep step = BufAppendStep::Write;
  if (failed == nullptr) failed = &step;
  for (int races = 0;;) {
    *failed = BufAppendStep::Write;
    OsFile f;
    bool created = false;
    int rc = OsFileOpenAppendExisting(path, &f);
    if (rc != 0) {
      int creating = OsFileCreateNew(path, &f);
      created = creating == 0;
      if (creating != 0) {
        // Somebody else created it between the two, and the service may have
        // retired that one already: open it again.
        if (++races < kCreateRaces) continue;
        OsFileId existing;
        return OsPathId(path, &existing) == 0 ? rc : creating;
      }
    }
    rc = LockWithin(f);
    // The service retires a delivered file under the lock: then the name no
    // longer names the file we hold, and our record goes into a new one.
    bool current = false;
    if (rc == 0 && (OsFileIsAtPath(f, path, &current) != 0 || !current)) {
      OsFileClose(&f);
      continue;
    }
    if (rc == 0) rc = AppendLocked(path, f, created, line, length, failed);
    int closed = OsFileClose(&f);
    return rc != 0 ? rc : closed;
  }
}
