// Names of buffer files: the numbered names producers write, the private
// names of retired files, and what lies in the folder.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "buffile_internal.h"
#include "text.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSuffix = ".BUF";
constexpr const char* kRetiredTag = ".retired-";

// Where the file-name part of a path begins (after the last separator of
// the system's paths).
size_t NamePartStart(const std::string& path) { return path.size() - fs::path(path).filename().string().size(); }

// A decimal number without leading zeros, as the numbered names carry it.
bool ParseNumber(const std::string& digits, uint64_t max, uint64_t* value) {
  return !digits.empty() && digits[0] != '0' && TextIsNumberIn(digits.c_str(), 1, max, value);
}

bool SameText(const std::string& a, const std::string& b) {
  if (!OsFileNamesIgnoreCase()) return a == b;
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
           return up(x) == up(y);
         });
}

// "<prefix><n>.BUF": the number n; false for any other name.
bool NumberedName(const std::string& name, const std::string& prefix, unsigned* n) {
  const size_t suffix = strlen(kSuffix);
  if (name.size() <= prefix.size() + suffix) return false;
  if (!SameText(name.substr(0, prefix.size()), prefix)) return false;
  if (!SameText(name.substr(name.size() - suffix), kSuffix)) return false;
  uint64_t value = 0;
  if (!ParseNumber(name.substr(prefix.size(), name.size() - prefix.size() - suffix), 0xffffffffu, &value))
    return false;
  *n = static_cast<unsigned>(value);
  return true;
}

// ".<numbered name>.retired-<seq>": the number and the sequence.
bool RetiredName(const std::string& name, const std::string& prefix, unsigned* n, uint64_t* seq) {
  size_t tag = name.rfind(kRetiredTag);
  if (name.empty() || name[0] != '.' || tag == std::string::npos) return false;
  return NumberedName(name.substr(1, tag - 1), prefix, n) &&
         ParseNumber(name.substr(tag + strlen(kRetiredTag)), UINT64_MAX, seq);
}


}  // namespace

void BufBaseName(char* bufferFile) {
  size_t start = OsFileNamesIgnoreCase() ? 0 : NamePartStart(bufferFile);
  for (char* p = bufferFile + start; *p; ++p) {
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
  }
  if (char* cut = strstr(bufferFile + start, kSuffix)) *cut = '\0';
}

std::string BufFileName(const char* base, unsigned n) {
  char number[16];
  snprintf(number, sizeof number, "%u", n);
  return std::string(base) + number + kSuffix;
}

bool BufIsBufferName(const std::string& name, const std::string& prefix) {
  unsigned n = 0;
  uint64_t seq = 0;
  return NumberedName(name, prefix, &n) || RetiredName(name, prefix, &n, &seq);
}

std::string BufFolderPart(const std::string& path) { return path.substr(0, NamePartStart(path)); }

std::string BufFolderOf(const std::string& base) {
  std::string part = BufFolderPart(base);
  return part.empty() ? "." : part;
}

// The private name a retired file takes: hidden, beside its own name, so
// that the rename never copies and no producer writes there.
std::string BufRetiredPath(const std::string& path, uint64_t seq) {
  size_t start = NamePartStart(path);
  return path.substr(0, start) + "." + path.substr(start) + kRetiredTag + std::to_string(seq);
}

std::vector<BufEntry> BufListFolder(const char* base) {
  const std::string text(base);
  const std::string folderPart = BufFolderPart(text);
  const std::string prefix = text.substr(folderPart.size());
  const std::string folder = folderPart.empty() ? "." : folderPart;
  std::vector<BufEntry> entries;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    BufEntry entry;
    bool numbered = NumberedName(name, prefix, &entry.n);
    if (!numbered && !RetiredName(name, prefix, &entry.n, &entry.seq)) continue;
    // The type the listing gave, where it gave one: no look at each file.
    std::error_code typeEc;
    if (it->is_symlink(typeEc) || !it->is_regular_file(typeEc)) continue;
    entry.path = folderPart + name;
    entries.push_back(entry);
  }
  // Of one number the retired files come first, in the order they were
  // retired, and the file under its own name (seq 0) last.
  std::sort(entries.begin(), entries.end(), [](const BufEntry& a, const BufEntry& b) {
    if (a.n != b.n) return a.n < b.n;
    if ((a.seq == 0) != (b.seq == 0)) return b.seq == 0;
    return a.seq < b.seq;
  });
  return entries;
}
