// The service's published state: what an operator asks of a running (or
// ended) service, written by the service alone into a small file that
// tormelctl reads. The file is replaced whole (written aside, then renamed),
// so a reader never sees it half written.
//
// The file is text, one record a line, LF ends:
//   tormel-state 1                       the format and its version
//   KEY=VALUE                            a field of StateRecord
//   station KEY=VALUE KEY=VALUE ...      one line per station
// Keys are the fields' names in snake_case (files_removed, down_since,
// fail_operation, oldest_pending, ...); numbers are decimal, flags 0 or 1,
// times as below. Values hold no blanks, "=" or control characters (the
// writer replaces them with "_"), and an empty text is written "-". A reader
// passes over keys it does not know, so later writers of version 1 may add
// fields; a change that old readers would misread takes a new version.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Times are wall-clock milliseconds since 1970-01-01 UTC; 0 means never.

// One receiving station: a receiver address the buffer files name, with the
// configured port.
struct StateStation {
  std::string address;        // "a.b.c.d:port"
  bool up = true;             // false while in backoff after a failure
  uint64_t downSince = 0;     // the first failure of the current run of failures
  uint32_t failures = 0;      // consecutive failures
  uint64_t nextTry = 0;       // when it may be tried again; 0 when it may now
  std::string failOperation;  // the last failure: "CSocketClientOpen", "CSocketWrite", "CSocketRead", "CSocketClose"
  int32_t failCode = 0;       // its error code
  uint64_t failAt = 0;        // and when it came
  uint64_t lastSuccess = 0;   // the last connection that opened
  uint64_t delivered = 0;     // records acknowledged since the service started
  uint64_t refused = 0;       // records refused ("0" or another answer)
  uint64_t failed = 0;        // failed connections and exchanges
  uint64_t files = 0;         // buffer files that name it
  uint64_t pending = 0;       // their pending records
  uint64_t oldestPending = 0; // since when the oldest of them waits; 0 when none
  bool operator==(const StateStation&) const = default;
};

struct StateRecord {
  long pid = 0;
  std::string version;
  uint64_t started = 0;
  uint64_t updated = 0;
  bool ended = false;         // the service wrote this at the end of its run
  // Of the whole service, since it started.
  uint64_t delivered = 0;
  uint64_t refused = 0;
  uint64_t failed = 0;
  uint64_t connections = 0;   // connections opened
  uint64_t filesRemoved = 0;  // delivered buffer files removed
  std::vector<StateStation> stations;  // ordered by address
  bool operator==(const StateRecord&) const = default;
};

// The file's name in the state folder.
inline constexpr const char* STATE_FILE_NAME = "tormel.state";

// The state file's path: in the service's runtime folder on POSIX (where
// its named objects live), in its data folder on Windows. 0 or the
// system's error.
int StatePath(std::string* path);
// Replaces the file at path with record, atomically: written to a name
// beside it, then renamed over it. Readable by the service's group (0640 on
// POSIX, whatever the umask). 0 or the system's error.
int StateWrite(const char* path, const StateRecord& record);
// Reads the file at path. 0, the system's error, or -1 when it is not a
// state file this version reads.
int StateRead(const char* path, StateRecord* record);

// Why a state that was read does or does not speak for a running service.
enum class StateCurrency {
  Current,     // its service runs and wrote it
  Ended,       // its service wrote it at the end of its run
  NotRunning,  // no instance holds the mutex: its service was killed
  Other,       // an instance runs, but not the process that wrote it
  Unknown,     // whether an instance runs cannot be told
};
// The one judgement of a state's currency: ended, then whether the instance
// mutex is held, then whether its holder is the writer (its process id
// where the system tells who holds the mutex, else whether the writer's
// process still exists).
StateCurrency StateJudge(const StateRecord& record);
