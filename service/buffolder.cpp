// The forwarding loop's view of its buffer folder: the retired files it
// still has to deliver or remove, how long unterminated last lines have been
// quiet, and the lock that keeps a second service out of the folder.
#include <algorithm>

#include "buffile_internal.h"
#include "os_time.h"

namespace {

// Records of files not seen for this long are dropped: the file went some
// other way.
constexpr uint64_t kForgetQuietMs = 10 * 60 * 1000;

}  // namespace

void BufFolderStart(BufFolder* folder, const char* base) {
  folder->base = base;
  folder->commitTogether = OsFolderSyncIsDurable();
  for (const BufEntry& entry : BufListFolder(base)) {
    if (entry.seq == 0) continue;
    folder->retired.push_back(BufRetired{entry, 0});
    folder->nextSeq = std::max(folder->nextSeq, entry.seq + 1);
  }
}

std::vector<BufEntry> BufFilesOf(const BufFolder* folder, unsigned n) {
  std::vector<BufEntry> files;
  for (const BufRetired& r : folder->retired)
    if (r.entry.n == n) files.push_back(r.entry);
  files.push_back(BufEntry{n, 0, BufFileName(folder->base.c_str(), n)});
  return files;
}

int BufFolderCommit(BufFolder* folder) {
  if (!folder->removalsUnsynced) return 0;
  folder->removalsUnsynced = false;
  int rc = OsFolderSync(BufFolderOf(folder->base).c_str());
  if (rc != 0) folder->commitTogether = false;
  return rc;
}

BufRetired* BufFindRetired(BufFolder* folder, const std::string& path) {
  for (BufRetired& r : folder->retired)
    if (r.entry.path == path) return &r;
  return nullptr;
}

void BufForget(BufFolder* folder, const std::string& path, const OsFileId& id) {
  std::erase_if(folder->retired, [&](const BufRetired& r) { return r.entry.path == path; });
  std::erase_if(folder->quiet, [&](const BufQuiet& q) { return q.id == id; });
  std::erase_if(folder->straysReported, [&](const OsFileId& s) { return s == id; });
  std::erase_if(folder->delivered, [&](const BufDelivered& d) { return d.id == id; });
}

int BufFileOpen(BufFolder* folder, BufFile* f, const BufEntry& entry) {
  f->entry = entry;
  f->openedAs = entry.path;
  f->handledUpTo = UINT64_MAX;
  f->marksUnsynced = false;
  f->removed = false;
  OsFileInfo info;
  int rc = BufOpen(&f->stream, entry.path.c_str(), &info);
  if (rc != 0) return rc;
  f->id = info.id;
  f->bornMs = info.bornMs;
  folder->inHand.push_back(entry.path);
  return 0;
}

bool BufFileClose(BufFolder* folder, BufFile* f) {
  OsFileId named;
  uint64_t size = 0;
  bool ours = !f->removed && OsPathId(f->entry.path.c_str(), &named, &size) == 0 && f->id == named;
  BufNoteLastLook(folder, f->entry.path, ours, std::min(size, f->handledUpTo));
  if (f->openedAs != f->entry.path) BufNoteLastLook(folder, f->openedAs, false, 0);
  BufLetGo(folder, f->openedAs);
  BufLetGo(folder, f->entry.path);
  BufClose(&f->stream);
  return ours && f->handledUpTo != UINT64_MAX && size > f->handledUpTo;
}

bool BufDeliveredAndUnchanged(const BufFolder* folder, const BufFile* f, uint64_t* size) {
  if (f->entry.seq == 0) {
    auto known = std::find_if(folder->delivered.begin(), folder->delivered.end(),
                              [&](const BufDelivered& d) { return d.id == f->id; });
    return known != folder->delivered.end() && OsFileSize(f->stream.file, size) == 0 && *size == known->size;
  }
  for (const BufRetired& r : folder->retired) {
    if (r.entry.path != f->entry.path) continue;
    return r.doneSize != 0 && OsFileSize(f->stream.file, size) == 0 && *size == r.doneSize;
  }
  return false;
}

bool BufTailReady(BufFolder* folder, BufFile* f, uint64_t lineEnd) {
  OsFileId id;
  uint64_t size = 0;
  if (OsFileIdOf(f->stream.file, &id) != 0 || OsFileSize(f->stream.file, &size) != 0) return false;
  if (size != lineEnd) return false;  // more came since the line was read
  const uint64_t now = OsMonotonicMs();
  std::erase_if(folder->quiet, [&](const BufQuiet& q) { return now - q.sinceMs > kForgetQuietMs && !(q.id == id); });
  auto it = std::find_if(folder->quiet.begin(), folder->quiet.end(), [&](const BufQuiet& q) { return q.id == id; });
  if (it == folder->quiet.end()) {
    folder->quiet.push_back(BufQuiet{id, size, now});
    return false;
  }
  if (it->size != size) {
    *it = BufQuiet{id, size, now};
    return false;
  }
  if (now - it->sinceMs < BUF_QUIET_MS) return false;
  if (OsFileWritersElsewhere(f->stream.file) == OS_OPEN_ELSEWHERE) return false;
  // Asking takes a while: a producer that finished the line and closed the
  // file meanwhile is no writer any more, but the line as read is not the
  // line as it stands. Only a file that is still as it was read is final.
  return OsFileSize(f->stream.file, &size) == 0 && size == lineEnd;
}

uint64_t BufNewStrayBytes(BufFolder* folder, BufFile* f) {
  uint64_t behind = BufBytesBehindMark(&f->stream);
  const OsFileId id = f->id;
  if (behind == 0) return 0;
  for (const OsFileId& reported : folder->straysReported)
    if (reported == id) return 0;
  folder->straysReported.push_back(id);
  return behind;
}

int BufFolderLock(const char* base, OsFile* lock, std::string* path) {
  // Beside the buffer files, hidden as retired ones are.
  *path = BufFolderPart(base) + ".tormel.lock";
  OsFile f;
  if (OsFileCreateNew(path->c_str(), &f) == 0) OsFileClose(&f);
  int rc = OsFileOpenUpdate(path->c_str(), &f);
  if (rc != 0) return rc;
  rc = OsFileTryLock(f);
  if (rc != 0) {
    OsFileClose(&f);
    return rc;
  }
  *lock = f;
  return 0;
}
