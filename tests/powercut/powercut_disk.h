// The power-cut file system's picture of one disk and the page cache above
// it. Programs see and change the cache; the disk holds, per file, the data
// as of its last fsync or fdatasync, and per folder the entries as of the
// folder's last fsync. A cut makes the cache what the disk holds, as a
// machine finds its disk after the power went. Owners, modes and times are
// no part of it: they stay as they were last set.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

struct PcNode {
  uint64_t ino = 0;
  bool folder = false;
  mode_t mode = 0;  // permission bits
  uid_t uid = 0;
  gid_t gid = 0;
  timespec mtime{};
  timespec ctime{};
  std::string data;                                      // a file's data as programs see it
  std::map<std::string, std::shared_ptr<PcNode>> entries;  // a folder's entries as programs see them
  std::string syncedData;
  std::map<std::string, std::shared_ptr<PcNode>> syncedEntries;
  uint32_t links = 0;    // names in the cache's folders
  uint64_t lookups = 0;  // references the kernel holds
  bool gone = false;     // lost at a cut
};

// An open file or folder. A cut makes every handle opened before it fail.
struct PcHandle {
  std::shared_ptr<PcNode> node;
  uint64_t generation = 0;
  std::vector<std::pair<std::string, uint64_t>> listing;  // a folder's names and inodes, as opened
};

struct PcDisk {
  std::shared_ptr<PcNode> root;
  std::unordered_map<uint64_t, std::shared_ptr<PcNode>> known;  // by inode, while the kernel holds them
  std::unordered_map<uint64_t, PcHandle> handles;
  uint64_t nextIno = 1;
  uint64_t nextHandle = 1;
  uint64_t generation = 0;  // counts the cuts
  bool failSyncs = false;   // fsync, fdatasync and a folder's fsync fail with EIO
};

// A disk with an empty root folder (inode 1) owned by uid and gid.
void PcDiskInit(PcDisk* disk, uid_t uid, gid_t gid);
std::shared_ptr<PcNode> PcNewNode(PcDisk* disk, bool folder, mode_t mode, uid_t uid, gid_t gid);

// The node of inode ino, nullptr when unknown or lost at a cut.
PcNode* PcFind(PcDisk* disk, uint64_t ino);
// The node an open handle fh refers to; nullptr when the handle is unknown
// or was opened before the last cut.
PcHandle* PcFindHandle(PcDisk* disk, uint64_t fh);
uint64_t PcOpenHandle(PcDisk* disk, std::shared_ptr<PcNode> node);

// Names in the cache: a folder's entry added or taken away.
void PcAddEntry(PcNode* folder, const std::string& name, std::shared_ptr<PcNode> node);
void PcRemoveEntry(PcNode* folder, const std::string& name);
// The cache's subfolders of a folder, for its link count.
uint32_t PcSubfolders(const PcNode& folder);

// The power goes: what the disk holds is all there is. Nodes the disk's
// folders no longer reach are lost.
void PcCut(PcDisk* disk);

void PcTouch(PcNode* node, bool content);
