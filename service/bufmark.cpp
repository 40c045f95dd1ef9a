// The delivered mark: written in place as each acknowledgement comes, made
// durable in groups (a sync at least once a second while a file is in
// delivery, and before it goes), and a file whose marks cannot be written
// or synced is left alone until they can.
#include <algorithm>

#include "buffile.h"
#include "buflayout.h"

int BufMarkDelivered(BufFile* f, uint64_t lineStart) {
  int rc = BufWriteAt(&f->stream, lineStart, TORMEL_MARK_DELIVERED);
  if (rc == 0) f->marksUnsynced = true;
  return rc;
}

int BufSyncMarks(BufFile* f) {
  if (!f->marksUnsynced) return 0;
  int rc = OsFileSync(f->stream.file);
  if (rc == 0) f->marksUnsynced = false;
  return rc;
}

bool BufNoteMarkFailure(BufFolder* folder, const BufFile* f) {
  const OsFileId id = f->id;
  if (std::find(folder->marksFailed.begin(), folder->marksFailed.end(), id) != folder->marksFailed.end()) return false;
  folder->marksFailed.push_back(id);
  return true;
}

bool BufMarksWritable(BufFolder* folder, BufFile* f) {
  auto it = std::find(folder->marksFailed.begin(), folder->marksFailed.end(), f->id);
  if (it == folder->marksFailed.end()) return true;
  // The first byte written over with itself, and synced: what a mark needs
  // of the file system (room for a block, on a copy-on-write one).
  char first = 0;
  size_t got = 0;
  if (OsFileReadAt(f->stream.file, 0, &first, 1, &got) != 0 || got != 1) return false;
  if (OsFileWriteAt(f->stream.file, 0, &first, 1) != 0 || OsFileSync(f->stream.file) != 0) return false;
  folder->marksFailed.erase(it);
  return true;
}
