// Waiting for producers: the loop waits on the folder's watch with its
// connections, and a change a producer makes to a buffer file ends a pause
// of its walk. Changes the loop made
// itself (marks, the close of a file it had open, a retirement) must not
// wake it, or a receiver that refuses would be tried faster than it should.
#include <algorithm>

#include "buffile_internal.h"

namespace {

// Files the loop remembers leaving: more than it holds open at once, so that
// the news of its own changes, read a while later, is still told apart.
constexpr size_t kLastLooksKept = 4096;
constexpr size_t kTouchedKept = 4096;

std::string WatchedFolder(const BufFolder* folder) { return BufFolderOf(folder->base); }

// A name the system reports counts when it is a buffer file of ours that is
// not as the loop left it.
bool Relevant(const char* name, void* context) {
  auto* folder = static_cast<BufFolder*>(context);
  const std::string part = BufFolderPart(folder->base);
  if (!BufIsBufferName(name, folder->base.substr(part.size()))) return false;
  const std::string path = part + name;
  if (std::find(folder->inHand.begin(), folder->inHand.end(), path) != folder->inHand.end()) return false;
  auto it = folder->lastLooks.find(path);
  bool news = it == folder->lastLooks.end();
  if (!news) {
    OsFileId id;
    uint64_t size = 0;
    bool exists = OsPathId(path.c_str(), &id, &size) == 0;
    news = exists != it->second.exists || (exists && size != it->second.size);
  }
  if (news) BufNoteTouched(folder, path);
  return news;
}

void StopWatching(BufFolder* folder) {
  if (folder->watching) OsWatchClose(&folder->watch);
  folder->watching = false;
}

}  // namespace

void BufNoteLastLook(BufFolder* folder, const std::string& path, bool exists, uint64_t size) {
  auto [it, made] = folder->lastLooks.insert_or_assign(path, BufLastLook{path, exists, size});
  if (!made) return;
  folder->lastLooksOrder.push_back(path);
  if (folder->lastLooksOrder.size() > kLastLooksKept) {
    folder->lastLooks.erase(folder->lastLooksOrder.front());
    folder->lastLooksOrder.pop_front();
  }
}

void BufNoteTouched(BufFolder* folder, const std::string& path) {
  if (folder->touched.size() < kTouchedKept) folder->touched.insert(path);
}

void BufLetGo(BufFolder* folder, const std::string& path) {
  auto it = std::find(folder->inHand.begin(), folder->inHand.end(), path);
  if (it != folder->inHand.end()) folder->inHand.erase(it);
}

int BufWatchStart(BufFolder* folder) {
  StopWatching(folder);
  const std::string watched = WatchedFolder(folder);
  int rc = OsPathId(watched.c_str(), &folder->watchedId);
  if (rc == 0) rc = OsWatchOpen(watched.c_str(), &folder->watch);
  folder->watching = rc == 0;
  return rc;
}

std::vector<std::string> BufTakeTouched(BufFolder* folder) {
  std::vector<std::string> touched(folder->touched.begin(), folder->touched.end());
  folder->touched.clear();
  return touched;
}

OsWatch* BufWatchOf(BufFolder* folder) { return folder->watching ? &folder->watch : nullptr; }

bool BufWatchLost(BufFolder* folder) {
  if (!folder->watching) return false;
  // A folder put in place of the watched one is not watched: the system
  // goes on telling about the old one, wherever it went.
  OsFileId now;
  if (OsPathId(WatchedFolder(folder).c_str(), &now) == 0 && now == folder->watchedId) return false;
  StopWatching(folder);
  return true;
}

BufWatchNews BufWatchRead(BufFolder* folder) {
  if (!folder->watching) return BufWatchNews::None;
  switch (OsWatchRead(&folder->watch, Relevant, folder)) {
    case OsWatchNews::Changed:
      return BufWatchNews::Changed;
    case OsWatchNews::Lost:
      StopWatching(folder);
      return BufWatchNews::Lost;
    default:
      return BufWatchNews::None;
  }
}

void BufFolderStop(BufFolder* folder) { StopWatching(folder); }
