// Retiring a delivered buffer file: removed only when that loses nothing.
#include <algorithm>

#include "buffile_internal.h"

namespace {

constexpr size_t kDeliveredKept = 1024;  // files remembered as delivered but not removable

void RememberUnfinished(BufFolder* folder, const BufFile* f, uint64_t doneSize) {
  if (BufRetired* r = BufFindRetired(folder, f->entry.path)) r->doneSize = doneSize;
}

// Everything in the file under its own name up to size is delivered, but it
// could not be removed: until it changes, its turns cost no connection.
void RememberDelivered(BufFolder* folder, const BufFile* f, uint64_t size) {
  const OsFileId id = f->id;
  if (f->entry.seq != 0) return;
  std::erase_if(folder->delivered, [&](const BufDelivered& d) { return d.id == id; });
  if (folder->delivered.size() >= kDeliveredKept) folder->delivered.erase(folder->delivered.begin());
  folder->delivered.push_back(BufDelivered{id, size});
}

// The steps under the producers' lock: a producer that appends holds it, and
// appends only to the file its name names, so none can add a record that
// these steps do not see.
BufRetirement RetireLocked(BufFolder* folder, BufFile* f, uint64_t end) {
  const OsFile file = f->stream.file;
  const OsFileId id = f->id;
  OsFileId named;
  uint64_t size = 0;
  // A name that was removed, or now names another file (somebody removed
  // ours and a producer began a new one), is not ours to touch. When it
  // names ours, its size is ours.
  if (OsPathId(f->entry.path.c_str(), &named, &size) != 0 || !(named == id)) {
    if (f->entry.seq != 0) BufForget(folder, f->entry.path, id);
    return BufRetirement::Gone;
  }
  // Records appended since reading stopped, or text behind a CTRL-Z that
  // ended it: not delivered yet.
  if (size > end) {
    RememberUnfinished(folder, f, 0);
    return BufRetirement::Kept;
  }
  if (f->entry.seq == 0) {
    // From here on a producer opening the name starts a new file.
    BufEntry retired{f->entry.n, folder->nextSeq, BufRetiredPath(f->entry.path, folder->nextSeq)};
    if (OsFileRenameNew(f->entry.path.c_str(), retired.path.c_str()) != 0) {
      RememberDelivered(folder, f, size);
      return BufRetirement::Kept;
    }
    ++folder->nextSeq;
    f->entry = retired;
    folder->inHand.push_back(retired.path);
    folder->retired.push_back(BufRetired{retired, 0});
  }
  // A producer that opened the file before the rename may still append.
  if (OsFileWritersElsewhere(file) == OS_OPEN_ELSEWHERE) {
    RememberUnfinished(folder, f, size);
    return BufRetirement::Held;
  }
  // Nobody reaches it by its old name and nobody holds it: what it holds
  // now is final. A power cut that undoes its removal must not bring back
  // records delivered long before: its marks reach the disk before it goes,
  // or its removal does within a second (BufFolderCommit).
  if (OsFileSize(file, &size) != 0 || size > end || (!folder->commitTogether && BufSyncMarks(f) != 0) ||
      OsFileRemove(f->entry.path.c_str()) != 0) {
    RememberUnfinished(folder, f, 0);
    return BufRetirement::Kept;
  }
  if (folder->commitTogether) folder->removalsUnsynced = true;
  BufForget(folder, f->entry.path, id);
  f->removed = true;
  return BufRetirement::Removed;
}

}  // namespace

BufRetirement BufRetire(BufFolder* folder, BufFile* f, uint64_t end) {
  // Whatever comes of it, the loop has handled the file up to end: what a
  // producer adds from now on is news, also when it comes before the close.
  // Text behind a CTRL-Z that ended the reading is never sent, so it is no
  // news, whenever it came.
  f->handledUpTo = end;
  uint64_t size = 0;
  if (BufAtMark(&f->stream) && OsFileSize(f->stream.file, &size) == 0) f->handledUpTo = size;
  // A lock held elsewhere is never waited for: the file comes up again.
  if (OsFileTryLock(f->stream.file) != 0) {
    uint64_t size = 0;
    if (OsFileSize(f->stream.file, &size) == 0 && size <= end) RememberDelivered(folder, f, size);
    return BufRetirement::Kept;
  }
  BufRetirement result = RetireLocked(folder, f, end);
  // A removed file's lock goes with its close.
  if (result != BufRetirement::Removed) OsFileUnlock(f->stream.file);
  return result;
}
