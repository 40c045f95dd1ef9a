// Waiting for producers: the loop sleeps between numbers, and a change a
// producer makes to a buffer file ends the sleep. Changes the loop made
// itself (marks, the close of a file it had open, a retirement) must not
// wake it, or a receiver that refuses would be tried faster than it should.
#include <algorithm>

#include "buffile_internal.h"
#include "os_time.h"

namespace {

constexpr size_t kLeftKept = 64;  // files the loop remembers leaving

std::string WatchedFolder(const BufFolder* folder) {
  std::string part = BufFolderPart(folder->base);
  return part.empty() ? "." : part;
}

// A name the system reports counts when it is a buffer file of ours that is
// not as the loop left it.
bool Relevant(const char* name, void* context) {
  const auto* folder = static_cast<const BufFolder*>(context);
  const std::string part = BufFolderPart(folder->base);
  if (!BufIsBufferName(name, folder->base.substr(part.size()))) return false;
  const std::string path = part + name;
  auto it = std::find_if(folder->left.begin(), folder->left.end(), [&](const BufLeft& l) { return l.path == path; });
  if (it == folder->left.end()) return true;
  OsFileId id;
  uint64_t size = 0;
  bool exists = OsPathId(path.c_str(), &id) == 0 && OsPathSize(path.c_str(), &size) == 0;
  return exists != it->exists || (exists && size != it->size);
}

void StopWatching(BufFolder* folder) {
  if (folder->watching) OsWatchClose(&folder->watch);
  folder->watching = false;
}

}  // namespace

void BufNoteLeft(BufFolder* folder, const std::string& path, bool exists, uint64_t size) {
  std::erase_if(folder->left, [&](const BufLeft& l) { return l.path == path; });
  if (folder->left.size() >= kLeftKept) folder->left.erase(folder->left.begin());
  folder->left.push_back(BufLeft{path, exists, size});
}

int BufWatchStart(BufFolder* folder) {
  StopWatching(folder);
  const std::string watched = WatchedFolder(folder);
  int rc = OsPathId(watched.c_str(), &folder->watchedId);
  if (rc == 0) rc = OsWatchOpen(watched.c_str(), &folder->watch);
  folder->watching = rc == 0;
  return rc;
}

BufWait BufWaitForChange(BufFolder* folder, uint32_t ms) {
  if (!folder->watching) {
    OsSleepMs(ms);
    return BufWait::Slept;
  }
  // A folder put in place of the watched one is not watched: the system
  // goes on telling about the old one, wherever it went.
  OsFileId now;
  OsWatchEnd end = OsWatchEnd::Lost;
  if (OsPathId(WatchedFolder(folder).c_str(), &now) == 0 && now == folder->watchedId)
    end = OsWatchWait(&folder->watch, ms, Relevant, folder);
  if (end == OsWatchEnd::Changed) return BufWait::Changed;
  if (end != OsWatchEnd::Lost) return BufWait::Slept;
  StopWatching(folder);
  OsSleepMs(ms);
  return BufWait::Lost;
}

void BufFolderStop(BufFolder* folder) { StopWatching(folder); }
