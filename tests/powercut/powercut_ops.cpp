// Every request is answered at once from memory, one after another. The
// kernel is told to cache nothing (entries and attributes time out at once,
// file data bypasses the page cache), so that after a cut it sees the disk
// as it is now.
#include "powercut_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/fs.h>

#include "powercut_disk.h"

namespace {

PcDisk* DiskOf(fuse_req_t req) { return static_cast<PcDisk*>(fuse_req_userdata(req)); }

void FillAttr(const PcNode& n, struct stat* st) {
  *st = {};
  st->st_ino = n.ino;
  st->st_mode = (n.folder ? S_IFDIR : S_IFREG) | n.mode;
  st->st_nlink = n.folder ? 2 + PcSubfolders(n) : n.links;
  st->st_uid = n.uid;
  st->st_gid = n.gid;
  st->st_size = n.folder ? 4096 : static_cast<off_t>(n.data.size());
  st->st_blksize = 4096;
  st->st_blocks = (st->st_size + 511) / 512;
  st->st_atim = n.mtime;
  st->st_mtim = n.mtime;
  st->st_ctim = n.ctime;
}

void ReplyEntry(fuse_req_t req, PcDisk* disk, const std::shared_ptr<PcNode>& node) {
  fuse_entry_param e{};
  e.ino = node->ino;
  FillAttr(*node, &e.attr);
  if (fuse_reply_entry(req, &e) == 0) {
    ++node->lookups;
    disk->known[node->ino] = node;
  }
}

// The folder of inode ino, or an error to answer.
int FindFolder(PcDisk* disk, fuse_ino_t ino, PcNode** folder) {
  *folder = PcFind(disk, ino);
  if (*folder == nullptr) return ESTALE;
  return (*folder)->folder ? 0 : ENOTDIR;
}

std::shared_ptr<PcNode> Entry(PcNode* folder, const char* name) {
  auto it = folder->entries.find(name);
  return it == folder->entries.end() ? nullptr : it->second;
}

void Lookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
  PcDisk* disk = DiskOf(req);
  PcNode* folder = nullptr;
  if (int err = FindFolder(disk, parent, &folder)) return (void)fuse_reply_err(req, err);
  auto node = Entry(folder, name);
  if (node == nullptr) return (void)fuse_reply_err(req, ENOENT);
  ReplyEntry(req, disk, node);
}

void Forget(PcDisk* disk, fuse_ino_t ino, uint64_t n) {
  auto it = disk->known.find(ino);
  if (it == disk->known.end() || ino == FUSE_ROOT_ID) return;
  it->second->lookups -= n < it->second->lookups ? n : it->second->lookups;
  if (it->second->lookups == 0) disk->known.erase(it);
}

void ForgetOne(fuse_req_t req, fuse_ino_t ino, uint64_t n) {
  Forget(DiskOf(req), ino, n);
  fuse_reply_none(req);
}

void ForgetMany(fuse_req_t req, size_t count, fuse_forget_data* forgets) {
  for (size_t i = 0; i < count; ++i) Forget(DiskOf(req), forgets[i].ino, forgets[i].nlookup);
  fuse_reply_none(req);
}

void ReplyAttr(fuse_req_t req, const PcNode& node) {
  struct stat st;
  FillAttr(node, &st);
  fuse_reply_attr(req, &st, 0.0);
}

void GetAttr(fuse_req_t req, fuse_ino_t ino, fuse_file_info*) {
  PcNode* node = PcFind(DiskOf(req), ino);
  if (node == nullptr) return (void)fuse_reply_err(req, ESTALE);
  ReplyAttr(req, *node);
}

void SetAttr(fuse_req_t req, fuse_ino_t ino, struct stat* attr, int set, fuse_file_info* fi) {
  PcDisk* disk = DiskOf(req);
  PcNode* node = PcFind(disk, ino);
  if (node == nullptr) return (void)fuse_reply_err(req, ESTALE);
  if (fi != nullptr && PcFindHandle(disk, fi->fh) == nullptr) return (void)fuse_reply_err(req, EIO);
  if (set & FUSE_SET_ATTR_SIZE) {
    if (node->folder) return (void)fuse_reply_err(req, EISDIR);
    node->data.resize(static_cast<size_t>(attr->st_size));
    PcTouch(node, true);
  }
  if (set & FUSE_SET_ATTR_MODE) node->mode = attr->st_mode & 07777;
  if (set & FUSE_SET_ATTR_UID) node->uid = attr->st_uid;
  if (set & FUSE_SET_ATTR_GID) node->gid = attr->st_gid;
  if (set & FUSE_SET_ATTR_MTIME) node->mtime = attr->st_mtim;
  if (set & FUSE_SET_ATTR_MTIME_NOW) PcTouch(node, true);
  PcTouch(node, false);
  ReplyAttr(req, *node);
}

// A new node named name in parent, owned by the caller; nullptr with *err.
std::shared_ptr<PcNode> Make(fuse_req_t req, fuse_ino_t parent, const char* name, bool folder, mode_t mode,
                             int* err) {
  PcDisk* disk = DiskOf(req);
  PcNode* into = nullptr;
  if ((*err = FindFolder(disk, parent, &into)) != 0) return nullptr;
  if (Entry(into, name) != nullptr) {
    *err = EEXIST;
    return nullptr;
  }
  if (strlen(name) > 255) {
    *err = ENAMETOOLONG;
    return nullptr;
  }
  const fuse_ctx* ctx = fuse_req_ctx(req);
  auto node = PcNewNode(disk, folder, mode, ctx->uid, ctx->gid);
  PcAddEntry(into, name, node);
  return node;
}

void MakeFolder(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode) {
  int err = 0;
  auto node = Make(req, parent, name, true, mode, &err);
  if (node == nullptr) return (void)fuse_reply_err(req, err);
  ReplyEntry(req, DiskOf(req), node);
}

void MakeNode(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode, dev_t) {
  if (!S_ISREG(mode)) return (void)fuse_reply_err(req, EPERM);
  int err = 0;
  auto node = Make(req, parent, name, false, mode, &err);
  if (node == nullptr) return (void)fuse_reply_err(req, err);
  ReplyEntry(req, DiskOf(req), node);
}

// Symbolic links are refused: nothing here needs them.
void MakeSymlink(fuse_req_t req, const char*, fuse_ino_t, const char*) { fuse_reply_err(req, EPERM); }

void RemoveName(fuse_req_t req, fuse_ino_t parent, const char* name, bool folder) {
  PcNode* from = nullptr;
  if (int err = FindFolder(DiskOf(req), parent, &from)) return (void)fuse_reply_err(req, err);
  auto node = Entry(from, name);
  if (node == nullptr) return (void)fuse_reply_err(req, ENOENT);
  if (node->folder != folder) return (void)fuse_reply_err(req, folder ? ENOTDIR : EISDIR);
  if (folder && !node->entries.empty()) return (void)fuse_reply_err(req, ENOTEMPTY);
  PcRemoveEntry(from, name);
  PcTouch(node.get(), false);
  fuse_reply_err(req, 0);
}

void Unlink(fuse_req_t req, fuse_ino_t parent, const char* name) { RemoveName(req, parent, name, false); }
void RemoveFolder(fuse_req_t req, fuse_ino_t parent, const char* name) { RemoveName(req, parent, name, true); }

void Rename(fuse_req_t req, fuse_ino_t parent, const char* name, fuse_ino_t newParent, const char* newName,
            unsigned flags) {
  PcDisk* disk = DiskOf(req);
  if (flags & ~static_cast<unsigned>(RENAME_NOREPLACE)) return (void)fuse_reply_err(req, EINVAL);
  PcNode *from = nullptr, *to = nullptr;
  if (int err = FindFolder(disk, parent, &from)) return (void)fuse_reply_err(req, err);
  if (int err = FindFolder(disk, newParent, &to)) return (void)fuse_reply_err(req, err);
  auto node = Entry(from, name);
  if (node == nullptr) return (void)fuse_reply_err(req, ENOENT);
  // A folder moved below itself would be lost; folders stay in their folder.
  if (node->folder && from != to) return (void)fuse_reply_err(req, EXDEV);
  if (auto old = Entry(to, newName)) {
    if (flags & RENAME_NOREPLACE) return (void)fuse_reply_err(req, EEXIST);
    if (old == node) return (void)fuse_reply_err(req, 0);
    if (old->folder != node->folder) return (void)fuse_reply_err(req, old->folder ? EISDIR : ENOTDIR);
    if (old->folder && !old->entries.empty()) return (void)fuse_reply_err(req, ENOTEMPTY);
    PcRemoveEntry(to, newName);
  }
  PcAddEntry(to, newName, node);
  PcRemoveEntry(from, name);
  PcTouch(node.get(), false);
  fuse_reply_err(req, 0);
}

void Link(fuse_req_t req, fuse_ino_t ino, fuse_ino_t newParent, const char* newName) {
  PcDisk* disk = DiskOf(req);
  PcNode* to = nullptr;
  if (int err = FindFolder(disk, newParent, &to)) return (void)fuse_reply_err(req, err);
  auto it = disk->known.find(ino);
  if (it == disk->known.end() || it->second->gone) return (void)fuse_reply_err(req, ESTALE);
  std::shared_ptr<PcNode> node = it->second;
  if (node->folder) return (void)fuse_reply_err(req, EPERM);
  if (Entry(to, newName) != nullptr) return (void)fuse_reply_err(req, EEXIST);
  PcAddEntry(to, newName, node);
  PcTouch(node.get(), false);
  ReplyEntry(req, disk, node);
}

// File data never enters the kernel's page cache: every read and write
// comes here, and a handle from before a cut can be refused.
void OpenWith(PcDisk* disk, std::shared_ptr<PcNode> node, fuse_file_info* fi) {
  if (fi->flags & O_TRUNC) {
    node->data.clear();
    PcTouch(node.get(), true);
  }
  fi->direct_io = 1;
  fi->keep_cache = 0;
  fi->fh = PcOpenHandle(disk, std::move(node));
}

void Open(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
  PcDisk* disk = DiskOf(req);
  auto it = disk->known.find(ino);
  if (it == disk->known.end() || it->second->gone) return (void)fuse_reply_err(req, ESTALE);
  if (it->second->folder) return (void)fuse_reply_err(req, EISDIR);
  OpenWith(disk, it->second, fi);
  if (fuse_reply_open(req, fi) != 0) disk->handles.erase(fi->fh);
}

void Create(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode, fuse_file_info* fi) {
  PcDisk* disk = DiskOf(req);
  PcNode* into = nullptr;
  if (int err = FindFolder(disk, parent, &into)) return (void)fuse_reply_err(req, err);
  std::shared_ptr<PcNode> node = Entry(into, name);
  if (node != nullptr && (fi->flags & O_EXCL)) return (void)fuse_reply_err(req, EEXIST);
  if (node != nullptr && node->folder) return (void)fuse_reply_err(req, EISDIR);
  if (node == nullptr) {
    int err = 0;
    if ((node = Make(req, parent, name, false, mode, &err)) == nullptr) return (void)fuse_reply_err(req, err);
  }
  OpenWith(disk, node, fi);
  fuse_entry_param e{};
  e.ino = node->ino;
  FillAttr(*node, &e.attr);
  if (fuse_reply_create(req, &e, fi) != 0) {
    disk->handles.erase(fi->fh);
    return;
  }
  ++node->lookups;
  disk->known[node->ino] = node;
}

void Read(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info* fi) {
  PcHandle* h = PcFindHandle(DiskOf(req), fi->fh);
  if (h == nullptr) return (void)fuse_reply_err(req, EIO);
  const std::string& data = h->node->data;
  size_t at = static_cast<size_t>(offset);
  if (at >= data.size()) return (void)fuse_reply_buf(req, nullptr, 0);
  fuse_reply_buf(req, data.data() + at, std::min(size, data.size() - at));
}

void Write(fuse_req_t req, fuse_ino_t, const char* buf, size_t size, off_t offset, fuse_file_info* fi) {
  PcHandle* h = PcFindHandle(DiskOf(req), fi->fh);
  if (h == nullptr) return (void)fuse_reply_err(req, EIO);
  std::string& data = h->node->data;
  // Requests are served one at a time: an append lands whole at the end as
  // it is now, whatever offset the kernel thought the end was at.
  size_t at = (fi->flags & O_APPEND) ? data.size() : static_cast<size_t>(offset);
  if (data.size() < at + size) data.resize(at + size);
  data.replace(at, size, buf, size);
  PcTouch(h->node.get(), true);
  fuse_reply_write(req, size);
}

void Flush(fuse_req_t req, fuse_ino_t, fuse_file_info*) { fuse_reply_err(req, 0); }

void Release(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
  DiskOf(req)->handles.erase(fi->fh);
  fuse_reply_err(req, 0);
}

void Sync(fuse_req_t req, fuse_ino_t, int, fuse_file_info* fi) {
  PcDisk* disk = DiskOf(req);
  PcHandle* h = PcFindHandle(disk, fi->fh);
  if (h == nullptr || disk->failSyncs) return (void)fuse_reply_err(req, EIO);
  h->node->syncedData = h->node->data;
  fuse_reply_err(req, 0);
}

void OpenFolder(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
  PcDisk* disk = DiskOf(req);
  auto it = disk->known.find(ino);
  if (it == disk->known.end() || it->second->gone) return (void)fuse_reply_err(req, ESTALE);
  if (!it->second->folder) return (void)fuse_reply_err(req, ENOTDIR);
  fi->fh = PcOpenHandle(disk, it->second);
  PcHandle& h = disk->handles[fi->fh];
  h.listing = {{".", ino}, {"..", ino}};
  for (const auto& [name, node] : it->second->entries) h.listing.emplace_back(name, node->ino);
  if (fuse_reply_open(req, fi) != 0) disk->handles.erase(fi->fh);
}

void ReadFolder(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info* fi) {
  PcHandle* h = PcFindHandle(DiskOf(req), fi->fh);
  if (h == nullptr) return (void)fuse_reply_err(req, EIO);
  std::string buf(size, '\0');
  size_t used = 0;
  for (size_t i = static_cast<size_t>(offset); i < h->listing.size(); ++i) {
    struct stat st{};
    st.st_ino = h->listing[i].second;
    size_t need = fuse_add_direntry(req, buf.data() + used, size - used, h->listing[i].first.c_str(), &st,
                                    static_cast<off_t>(i + 1));
    if (need > size - used) break;
    used += need;
  }
  fuse_reply_buf(req, buf.data(), used);
}

void ReleaseFolder(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
  DiskOf(req)->handles.erase(fi->fh);
  fuse_reply_err(req, 0);
}

void SyncFolder(fuse_req_t req, fuse_ino_t, int, fuse_file_info* fi) {
  PcDisk* disk = DiskOf(req);
  PcHandle* h = PcFindHandle(disk, fi->fh);
  if (h == nullptr || disk->failSyncs) return (void)fuse_reply_err(req, EIO);
  h->node->syncedEntries = h->node->entries;
  fuse_reply_err(req, 0);
}

void StatFs(fuse_req_t req, fuse_ino_t) {
  struct statvfs st{};
  st.f_bsize = 4096;
  st.f_frsize = 4096;
  st.f_blocks = st.f_bfree = st.f_bavail = 1u << 20;  // 4 GiB, all free: memory is the limit
  st.f_files = st.f_ffree = st.f_favail = 1u << 20;
  st.f_namemax = 255;
  fuse_reply_statfs(req, &st);
}

fuse_lowlevel_ops MakeOperations() {
  fuse_lowlevel_ops ops{};
  ops.lookup = Lookup;
  ops.forget = ForgetOne;
  ops.forget_multi = ForgetMany;
  ops.getattr = GetAttr;
  ops.setattr = SetAttr;
  ops.mknod = MakeNode;
  ops.mkdir = MakeFolder;
  ops.symlink = MakeSymlink;
  ops.unlink = Unlink;
  ops.rmdir = RemoveFolder;
  ops.rename = Rename;
  ops.link = Link;
  ops.open = Open;
  ops.create = Create;
  ops.read = Read;
  ops.write = Write;
  ops.flush = Flush;
  ops.release = Release;
  ops.fsync = Sync;
  ops.opendir = OpenFolder;
  ops.readdir = ReadFolder;
  ops.releasedir = ReleaseFolder;
  ops.fsyncdir = SyncFolder;
  ops.statfs = StatFs;
  // No flock: the kernel then keeps flock and POSIX locks itself, across
  // every process on this machine.
  return ops;
}

}  // namespace

const fuse_lowlevel_ops* PcOperations() {
  static const fuse_lowlevel_ops ops = MakeOperations();
  return &ops;
}
