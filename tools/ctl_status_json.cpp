// tormelctl status --json: what status shows, as one JSON document whose
// fields the README lists. Names stay as they are once published: a new
// field may come, none changes its meaning.
#include <cstdio>

#include "ctl.h"

namespace {

// Builds one JSON object after another; fields are separated as they come.
struct Json {
  std::string out;
  bool first = true;  // no field yet in the object or array open last
};

void Sep(Json& j) {
  if (!j.first) j.out += ',';
  j.first = false;
}

std::string Quoted(const std::string& text) {
  std::string q = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      q += '\\';
      q += static_cast<char>(c);
    } else if (c < 0x20) {
      char esc[8];
      snprintf(esc, sizeof esc, "\\u%04x", c);
      q += esc;
    } else {
      q += static_cast<char>(c);
    }
  }
  return q + "\"";
}

// The key of the next field; none (null) in an array or for the document.
void Key(Json& j, const char* key) {
  Sep(j);
  if (key != nullptr) j.out += Quoted(key) + ':';
}
void Raw(Json& j, const char* key, const std::string& value) {
  Key(j, key);
  j.out += value;
}
void Str(Json& j, const char* key, const std::string& value) { Raw(j, key, Quoted(value)); }
void Num(Json& j, const char* key, uint64_t value) { Raw(j, key, std::to_string(value)); }
void Int(Json& j, const char* key, long long value) { Raw(j, key, std::to_string(value)); }
void Bool(Json& j, const char* key, bool value) { Raw(j, key, value ? "true" : "false"); }
void Null(Json& j, const char* key) { Raw(j, key, "null"); }
void Open(Json& j, const char* key, char bracket) {
  Key(j, key);
  j.out += bracket;
  j.first = true;
}
void Close(Json& j, char bracket) {
  j.out += bracket;
  j.first = false;
}

// The value, or null when it is absent.
void StrOrNull(Json& j, const char* key, bool present, const std::string& value) {
  Raw(j, key, present ? Quoted(value) : "null");
}
void NumOrNull(Json& j, const char* key, bool present, uint64_t value) {
  Raw(j, key, present ? std::to_string(value) : "null");
}

// A past moment: "key" as ISO 8601 UTC and "key_age_seconds", null for never.
void Past(Json& j, const std::string& key, uint64_t at, uint64_t now) {
  StrOrNull(j, key.c_str(), at != 0, CtlIsoUtc(at));
  NumOrNull(j, (key + "_age_seconds").c_str(), at != 0, CtlAgeSeconds(at, now));
}

void Station(Json& j, const StateStation& s, uint64_t now) {
  Open(j, nullptr, '{');
  Str(j, "address", s.address);
  Str(j, "state", CtlStationState(s, now));
  Bool(j, "up", s.up);
  Past(j, "down_since", s.up ? 0 : s.downSince, now);
  Num(j, "consecutive_failures", s.failures);
  StrOrNull(j, "next_try", s.nextTry != 0, CtlIsoUtc(s.nextTry));
  NumOrNull(j, "next_try_in_seconds", s.nextTry != 0, s.nextTry > now ? (s.nextTry - now + 999) / 1000 : 0);
  if (s.failAt == 0) {
    Null(j, "last_failure");
  } else {
    Open(j, "last_failure", '{');
    Str(j, "operation", s.failOperation);
    Int(j, "code", s.failCode);
    Past(j, "at", s.failAt, now);
    Close(j, '}');
  }
  Past(j, "last_success", s.lastSuccess, now);
  Num(j, "delivered", s.delivered);
  Num(j, "refused", s.refused);
  Num(j, "failed", s.failed);
  Num(j, "files", s.files);
  Num(j, "pending", s.pending);
  Past(j, "oldest_pending", s.oldestPending, now);
  Close(j, '}');
}

// The service as its state tells, null when that does not speak for it.
void Service(Json& j, const CtlView& v) {
  if (v.kind != CtlStateKind::Current) return Null(j, "service");
  const StateRecord& r = v.state;
  const uint64_t now = v.now;
  Open(j, "service", '{');
  Int(j, "pid", r.pid);
  Str(j, "version", r.version);
  Past(j, "started", r.started, now);
  Past(j, "updated", r.updated, now);
  Num(j, "delivered", r.delivered);
  Num(j, "refused", r.refused);
  Num(j, "failed", r.failed);
  Num(j, "connections", r.connections);
  Num(j, "files_removed", r.filesRemoved);
  CtlTotals t = CtlSum(r);
  Num(j, "pending", t.pending);
  Past(j, "oldest_pending", t.oldestPending, now);
  Num(j, "stations_down", t.stationsDown);
  Close(j, '}');
}

// An event's state: its first word ("set", "reset", "absent", "unknown").
std::string EventWord(const std::string& state) { return state.substr(0, state.find(' ')); }

}  // namespace

std::string CtlStatusJson(const CtlView& v, const std::vector<CtlBufferFile>* files, const char* base) {
  Json j;
  Open(j, nullptr, '{');
  Num(j, "format", 1);
  Str(j, "time", CtlIsoUtc(v.now));
  Str(j, "instance", v.held == 1 ? "running" : v.held == 0 ? "not_running" : "unknown");
  Str(j, "stop_event", EventWord(v.stopEvent));
  Str(j, "start_event", EventWord(v.startEvent));
  StrOrNull(j, "state_file", !v.statePath.empty(), v.statePath);
  Str(j, "state", CtlStateKindName(v.kind));
  const bool current = v.kind == CtlStateKind::Current;
  Bool(j, "current", current);
  StrOrNull(j, "reason", !current, CtlNotCurrentText(v));
  Service(j, v);
  Open(j, "stations", '[');
  if (current)
    for (const StateStation& s : v.state.stations) Station(j, s, v.now);
  Close(j, ']');
  if (files == nullptr) {
    Null(j, "buffer_files");
  } else {
    Open(j, "buffer_files", '[');
    for (const CtlBufferFile& f : *files) {
      Open(j, nullptr, '{');
      Str(j, "path", f.entry.path);
      Bool(j, "readable", f.readable);
      StrOrNull(j, "receiver", f.readable && !f.view.receiver.empty(), f.view.receiver);
      Num(j, "pending", f.view.pending);
      Num(j, "delivered", f.view.delivered);
      StrOrNull(j, "retired_from", f.entry.seq != 0, BufFileName(base, f.entry.n));
      Num(j, "bytes_behind_ctrl_z", f.view.behindMark);
      Close(j, '}');
    }
    Close(j, ']');
  }
  Close(j, '}');
  return j.out + "\n";
}
