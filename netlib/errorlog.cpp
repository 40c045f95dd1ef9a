// The error log: one line per entry, appended in a single write, rotated to
// "<name>.old" before it would grow past its limit (emptied where it cannot
// be renamed).
#include <cstdio>
#include <string>

#include "lasterror.h"
#include "os_error.h"
#include "os_file.h"
#include "os_process.h"
#include "os_time.h"
#include "sockio.h"

namespace {

constexpr int32_t kDefaultMaxKiB = 2000;

struct ErrorLog {
  std::string path;  // empty while the log is not open
  int32_t level = 0;
  uint64_t maxBytes = 0;
};

ErrorLog errorLog;

// Texts go into the log quoted, with control characters, quotes and
// backslashes escaped, so that one entry always stays one line.
std::string Quoted(const char* text) {
  std::string out = "\"";
  for (const char* p = text ? text : ""; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char hex[5];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + '"';
}

// A plain word needs no quotes; anything with blanks or escapes keeps them.
std::string Word(const char* text) {
  std::string quoted = Quoted(text);
  bool plain = quoted.size() > 2 && quoted.find_first_of(" \\") == std::string::npos;
  return plain ? quoted.substr(1, quoted.size() - 2) : quoted;
}

std::string FormatEntry(const char* source, const char* function, int32_t severity, int32_t code,
                        int32_t secondary, const char* message, const char* detail) {
  OsLocalTime t{};
  OsGetLocalTime(&t);
  char head[96];
  snprintf(head, sizeof head, "%04d-%02d-%02d %02d:%02d:%02d.%03d pid=%ld source=", t.year, t.month, t.day, t.hour,
           t.minute, t.second, t.millisecond, OsProcessId());
  char numbers[96];
  snprintf(numbers, sizeof numbers, " severity=%d code=%d secondary=%d message=", static_cast<int>(severity),
           static_cast<int>(code), static_cast<int>(secondary));
  return head + Word(source) + " function=" + Word(function) + numbers + Quoted(message) + " detail=" +
         Quoted(detail) + "\n";
}

// Makes room for entryBytes in the open log f of *size bytes: the full file
// is renamed to "<name>.old" and a new one begun. When the rename is refused
// (a folder of that name, say), the file is emptied instead, since a log
// must never grow past its limit, and *notice receives an entry that says so.
int MakeRoom(OsFile* f, uint64_t* size, uint64_t entryBytes, const char* source, std::string* notice) {
  if (*size == 0 || *size + entryBytes <= errorLog.maxBytes) return 0;
  std::string old = errorLog.path + ".old";
  OsFileClose(f);
  int renameErr = OsFileRename(errorLog.path.c_str(), old.c_str());
  int err = OsFileOpenLog(errorLog.path.c_str(), f);
  if (err == 0) err = OsFileSize(*f, size);
  // Another writer may have made room meanwhile.
  if (err != 0 || renameErr == 0 || *size + entryBytes <= errorLog.maxBytes) return err;
  err = OsFileTruncate(*f, 0);
  if (err != 0) return err;
  *size = 0;
  char reason[96];
  OsErrorText(renameErr, reason, sizeof reason);
  *notice = FormatEntry(source, "CLogWrite()", 1, renameErr, 0,
                        "Fehler: Logdatei voll, nicht nach .old umbenannt (rename); Logdatei geleert!",
                        (old + ": " + reason).c_str());
  return 0;
}

}  // namespace

int32_t CLogOpen(const char* fileName, int32_t level, int32_t maxSizeKiB) {
  errorLog = ErrorLog{};
  OsFile probe;
  int err = !fileName || !*fileName ? SOCKIO_EARGUMENT : OsFileOpenLog(fileName, &probe);
  if (err != 0) {
    SockioFail(err);
    return 0;
  }
  OsFileClose(&probe);
  errorLog.path = fileName;
  errorLog.level = level;
  errorLog.maxBytes = static_cast<uint64_t>(maxSizeKiB > 0 ? maxSizeKiB : kDefaultMaxKiB) * 1024u;
  return 1;
}

int32_t CLogWrite(const char* source, const char* function, int32_t severity, int32_t code, int32_t secondary,
                  const char* message, const char* detail) {
  if (errorLog.path.empty()) return SockioFail(SOCKIO_ENOLOG);
  if (severity > errorLog.level || errorLog.level <= 0) return 0;
  std::string entry = FormatEntry(source, function, severity, code, secondary, message, detail);
  OsFile f;
  int err = OsFileOpenLog(errorLog.path.c_str(), &f);
  if (err != 0) return SockioFail(err);
  uint64_t size = 0;
  err = OsFileSize(f, &size);
  std::string notice;
  if (err == 0) err = MakeRoom(&f, &size, entry.size(), source, &notice);
  if (err == 0) {
    entry = notice + entry;
    err = OsFileAppendWhole(f, entry.data(), entry.size());
  }
  OsFileClose(&f);
  return err == 0 ? 0 : SockioFail(err);
}
