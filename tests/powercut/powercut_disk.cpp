#include "powercut_disk.h"

#include <ctime>
#include <unordered_set>

void PcDiskInit(PcDisk* disk, uid_t uid, gid_t gid) {
  disk->root = PcNewNode(disk, true, 0755, uid, gid);
  disk->root->lookups = 1;  // the kernel never forgets the root
  disk->known[disk->root->ino] = disk->root;
}

std::shared_ptr<PcNode> PcNewNode(PcDisk* disk, bool folder, mode_t mode, uid_t uid, gid_t gid) {
  auto node = std::make_shared<PcNode>();
  // Inodes are never used twice: the kernel may still hold one lost at a cut.
  node->ino = disk->nextIno++;
  node->folder = folder;
  node->mode = mode & 07777;
  node->uid = uid;
  node->gid = gid;
  PcTouch(node.get(), true);
  return node;
}

PcNode* PcFind(PcDisk* disk, uint64_t ino) {
  auto it = disk->known.find(ino);
  return it == disk->known.end() || it->second->gone ? nullptr : it->second.get();
}

PcHandle* PcFindHandle(PcDisk* disk, uint64_t fh) {
  auto it = disk->handles.find(fh);
  if (it == disk->handles.end() || it->second.generation != disk->generation) return nullptr;
  return &it->second;
}

uint64_t PcOpenHandle(PcDisk* disk, std::shared_ptr<PcNode> node) {
  uint64_t fh = disk->nextHandle++;
  PcHandle& h = disk->handles[fh];
  h.node = std::move(node);
  h.generation = disk->generation;
  return fh;
}

void PcAddEntry(PcNode* folder, const std::string& name, std::shared_ptr<PcNode> node) {
  ++node->links;
  folder->entries[name] = std::move(node);
  PcTouch(folder, true);
}

void PcRemoveEntry(PcNode* folder, const std::string& name) {
  auto it = folder->entries.find(name);
  if (it == folder->entries.end()) return;
  --it->second->links;
  folder->entries.erase(it);
  PcTouch(folder, true);
}

uint32_t PcSubfolders(const PcNode& folder) {
  uint32_t n = 0;
  for (const auto& [name, node] : folder.entries) n += node->folder ? 1 : 0;
  return n;
}

void PcCut(PcDisk* disk) {
  ++disk->generation;
  // What the disk's folders reach from the root survives, as the disk has it.
  std::unordered_set<PcNode*> reached{disk->root.get()};
  std::vector<PcNode*> pending{disk->root.get()};
  while (!pending.empty()) {
    PcNode* node = pending.back();
    pending.pop_back();
    node->data = node->syncedData;
    node->entries = node->syncedEntries;
    node->links = 0;
    for (const auto& [name, child] : node->entries) {
      if (reached.insert(child.get()).second) pending.push_back(child.get());
    }
  }
  for (PcNode* node : reached) {
    for (const auto& [name, child] : node->entries) ++child->links;
  }
  for (auto& [ino, node] : disk->known) {
    if (reached.count(node.get()) != 0) continue;
    node->gone = true;
    node->data.clear();
    node->syncedData.clear();
    node->entries.clear();
    node->syncedEntries.clear();
  }
  // Handles from before the cut keep their nodes only until they are
  // released; a lost node's folders must not keep others alive meanwhile.
  for (auto& [fh, handle] : disk->handles) {
    if (reached.count(handle.node.get()) == 0) {
      handle.node->gone = true;
      handle.node->entries.clear();
      handle.node->syncedEntries.clear();
    }
  }
}

void PcTouch(PcNode* node, bool content) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  if (content) node->mtime = now;
  node->ctime = now;
}
