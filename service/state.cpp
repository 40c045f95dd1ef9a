// The state file: written by the service, read by tormelctl (state.h says
// the format).
#include "state.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

#include "os_file.h"
#include "os_process.h"
#include "os_sync.h"
#include "tormel.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kFormatLine = "tormel-state 1";
constexpr const char* kStationWord = "station";
// Far beyond what thousands of stations take; a larger file is no state file.
constexpr uint64_t kMaxFileSize = 16u << 20;
constexpr size_t kPathCap = 4096;

// Every field of a record, under its key in the file, handed to visit. One
// list for writing and reading, so that the two never disagree.
template <typename Station, typename Visit>
void StationFields(Station& s, Visit&& visit) {
  visit("address", s.address);
  visit("up", s.up);
  visit("down_since", s.downSince);
  visit("failures", s.failures);
  visit("next_try", s.nextTry);
  visit("fail_operation", s.failOperation);
  visit("fail_code", s.failCode);
  visit("fail_at", s.failAt);
  visit("last_success", s.lastSuccess);
  visit("delivered", s.delivered);
  visit("refused", s.refused);
  visit("failed", s.failed);
  visit("files", s.files);
  visit("pending", s.pending);
  visit("oldest_pending", s.oldestPending);
}

template <typename Record, typename Visit>
void RecordFields(Record& r, Visit&& visit) {
  visit("pid", r.pid);
  visit("version", r.version);
  visit("started", r.started);
  visit("updated", r.updated);
  visit("ended", r.ended);
  visit("delivered", r.delivered);
  visit("refused", r.refused);
  visit("failed", r.failed);
  visit("connections", r.connections);
  visit("files_removed", r.filesRemoved);
}

// A text as a value: no blanks, "=" or control characters, never empty.
std::string TextValue(std::string v) {
  if (v.empty()) return "-";
  for (char& c : v)
    if (static_cast<unsigned char>(c) <= ' ' || c == '=' || c == 0x7f) c = '_';
  return v;
}

struct Writer {
  std::string* out;
  const char* separator;  // between key=value pairs: a line end or a blank
  void Put(const char* key, const std::string& value) { *out += std::string(key) + '=' + value + separator; }
  void operator()(const char* key, const std::string& v) { Put(key, TextValue(v)); }
  void operator()(const char* key, bool v) { Put(key, v ? "1" : "0"); }
  template <typename Number>
  void operator()(const char* key, Number v) {
    Put(key, std::to_string(v));
  }
};

bool ParseValue(const std::string& text, std::string* v) {
  *v = text == "-" ? "" : text;
  return true;
}
bool ParseValue(const std::string& text, bool* v) {
  if (text != "0" && text != "1") return false;
  *v = text == "1";
  return true;
}
template <typename Number>
bool ParseValue(const std::string& text, Number* v) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *v);
  return ec == std::errc() && end == text.data() + text.size();
}

// Fills the fields whose keys are in values; false when one does not parse.
struct Reader {
  const std::map<std::string, std::string>* values;
  bool ok = true;
  template <typename T>
  void operator()(const char* key, T& field) {
    auto it = values->find(key);
    if (it != values->end() && !ParseValue(it->second, &field)) ok = false;
  }
};

// "key=value" words separated by blanks; false for a word without "=".
bool SplitPairs(const std::string& text, std::map<std::string, std::string>* values) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(' ', pos);
    if (end == std::string::npos) end = text.size();
    if (end > pos) {
      std::string word = text.substr(pos, end - pos);
      size_t eq = word.find('=');
      if (eq == std::string::npos || eq == 0) return false;
      (*values)[word.substr(0, eq)] = word.substr(eq + 1);
    }
    pos = end + 1;
  }
  return true;
}

int ReadWhole(const char* path, std::string* text) {
  OsFile f;
  int rc = OsFileOpenReadNoFollow(path, &f);
  if (rc != 0) return rc;
  uint64_t size = 0;
  rc = OsFileSize(f, &size);
  if (rc == 0 && size > kMaxFileSize) rc = -1;
  if (rc == 0) {
    text->resize(static_cast<size_t>(size));
    size_t done = 0;
    while (rc == 0 && done < text->size()) {
      size_t got = 0;
      rc = OsFileReadAt(f, done, text->data() + done, text->size() - done, &got);
      if (got == 0) break;
      done += got;
    }
    text->resize(done);
  }
  OsFileClose(&f);
  return rc;
}

}  // namespace

int StatePath(std::string* path) {
  char dir[kPathCap];
  int rc = OsRuntimeFolder(dir, sizeof dir);
  if (rc != 0) return rc;
  *path = (fs::path(dir) / STATE_FILE_NAME).string();
  return 0;
}

int StateWrite(const char* path, const StateRecord& record) {
  std::string text = std::string(kFormatLine) + "\n";
  RecordFields(record, Writer{&text, "\n"});
  for (const StateStation& station : record.stations) {
    text += std::string(kStationWord) + ' ';
    StationFields(station, Writer{&text, " "});
    text.back() = '\n';
  }

  const std::string aside = std::string(path) + ".new";
  std::error_code ec;
  // The writer makes its folder where the system does not (Windows).
  fs::create_directory(fs::path(path).parent_path(), ec);
  fs::remove(aside, ec);
  errno = 0;
  std::ofstream out(aside, std::ios::binary | std::ios::trunc);
  if (!out) return errno != 0 ? errno : EIO;
  // The group may read it whatever the umask; nobody else.
  fs::permissions(aside, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
                  fs::perm_options::replace, ec);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out || ec) {
    int err = ec ? ec.value() : errno != 0 ? errno : EIO;
    fs::remove(aside, ec);
    return err;
  }
  int rc = OsFileRename(aside.c_str(), path);
  if (rc != 0) fs::remove(aside, ec);
  return rc;
}

int StateRead(const char* path, StateRecord* record) {
  std::string text;
  int rc = ReadWhole(path, &text);
  if (rc != 0) return rc;
  const std::string head = std::string(kFormatLine) + "\n";
  if (text.compare(0, head.size(), head) != 0) return -1;
  StateRecord r;
  std::map<std::string, std::string> fields;
  for (size_t pos = head.size(); pos < text.size();) {
    size_t end = text.find('\n', pos);
    // A file cut short is none the service wrote: it writes whole lines.
    if (end == std::string::npos) return -1;
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.rfind(std::string(kStationWord) + " ", 0) == 0) {
      std::map<std::string, std::string> values;
      if (!SplitPairs(line.substr(strlen(kStationWord) + 1), &values)) return -1;
      StateStation station;
      Reader reader{&values};
      StationFields(station, reader);
      if (!reader.ok) return -1;
      r.stations.push_back(station);
    } else if (line.find(' ') != std::string::npos || !SplitPairs(line, &fields)) {
      return -1;
    }
  }
  Reader reader{&fields};
  RecordFields(r, reader);
  if (!reader.ok) return -1;
  *record = std::move(r);
  return 0;
}

StateCurrency StateJudge(const StateRecord& record) {
  if (record.ended) return StateCurrency::Ended;
  int err = 0;
  long holder = 0;
  int held = OsMutexIsHeld(TORMEL_MUTEX_NAME, &err, &holder);
  if (held < 0) return StateCurrency::Unknown;
  if (held == 0) return StateCurrency::NotRunning;
  if (holder != 0) return holder == record.pid ? StateCurrency::Current : StateCurrency::Other;
  return OsProcessRuns(record.pid) ? StateCurrency::Current : StateCurrency::Other;
}
