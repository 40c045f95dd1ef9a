// What tormelctl sees of the service, and the texts of times: shared by
// status, metrics and health.
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "ctl.h"
#include "os_time.h"
#include "os_error.h"
#include "os_sync.h"

namespace {

// The state of a named event; an event that nobody holds is absent. Sets
// *unknown when the state cannot be told.
std::string EventState(const char* name, bool* unknown) {
  OsEvent ev;
  int err = OsEventOpen(name, &ev);
  if (OsErrorIsNotFound(err)) return "absent";
  if (err != 0) {
    *unknown = true;
    return "unknown (cannot be reached: " + CtlErrorText(err) + ")";
  }
  int state = OsEventIsSet(ev);
  OsEventClose(&ev);
  if (state < 0) *unknown = true;
  return state == 1 ? "set" : state == 0 ? "reset" : "unknown (unreadable)";
}

CtlStateKind KindOf(const CtlView& v) {
  if (v.held < 0) return CtlStateKind::Unknown;
  if (v.stateError == 0) {
    switch (StateJudge(v.state)) {
      case StateCurrency::Current: return CtlStateKind::Current;
      case StateCurrency::Ended: return CtlStateKind::Ended;
      case StateCurrency::NotRunning: return CtlStateKind::NotRunning;
      case StateCurrency::Other: return CtlStateKind::Other;
      case StateCurrency::Unknown: return CtlStateKind::Unknown;
    }
  }
  if (v.held == 0) return CtlStateKind::NotRunning;
  return OsErrorIsNotFound(v.stateError) ? CtlStateKind::Missing : CtlStateKind::Unreadable;
}

std::string Format(const char* format, uint64_t ms, bool utc) {
  time_t seconds = static_cast<time_t>(ms / 1000);
  // tormelctl has a single thread: the library's static result is safe.
  const struct tm* t = utc ? std::gmtime(&seconds) : std::localtime(&seconds);
  char text[40];
  return t != nullptr && std::strftime(text, sizeof text, format, t) != 0 ? text : "?";
}

}  // namespace

void CtlLook(bool events, CtlView* v) {
  int err = 0;
  v->held = OsMutexIsHeld(TORMEL_MUTEX_NAME, &err);
  if (v->held < 0) v->heldError = std::string(TORMEL_MUTEX_NAME) + " cannot be reached: " + CtlErrorText(err);
  if (events) {
    v->stopEvent = EventState(TORMEL_STOP_EVENT_NAME, &v->eventsUnknown);
    v->startEvent = EventState(TORMEL_START_EVENT_NAME, &v->eventsUnknown);
  }
  v->stateError = StatePath(&v->statePath);
  if (v->stateError != 0) v->statePath.clear();
  if (v->stateError == 0) v->stateError = StateRead(v->statePath.c_str(), &v->state);
  if (v->stateError != 0) v->state = StateRecord{};
  v->kind = KindOf(*v);
  v->now = OsWallClockMs();
}

const char* CtlStateKindName(CtlStateKind kind) {
  switch (kind) {
    case CtlStateKind::Current: return "current";
    case CtlStateKind::Ended: return "ended";
    case CtlStateKind::NotRunning: return "not_running";
    case CtlStateKind::Other: return "other_instance";
    case CtlStateKind::Missing: return "missing";
    case CtlStateKind::Unreadable: return "unreadable";
    case CtlStateKind::Unknown: break;
  }
  return "unknown";
}

std::string CtlNotCurrentText(const CtlView& v) {
  const std::string pid = std::to_string(v.state.pid);
  switch (v.kind) {
    case CtlStateKind::Current: return "";
    case CtlStateKind::Ended:
      return "not current: its service (pid " + pid + ") ended " + CtlLocalTime(v.state.updated) + " (" +
             CtlDuration(v.now - std::min(v.now, v.state.updated)) + " ago)";
    case CtlStateKind::NotRunning:
      return v.stateError == 0 ? "not current: its service (pid " + pid + ") no longer runs"
                               : "not current: the service does not run";
    case CtlStateKind::Other:
      return "not current: written by pid " + pid + ", which is not the running instance";
    case CtlStateKind::Missing: return "not current: the running service publishes none (" + v.statePath + ")";
    case CtlStateKind::Unreadable:
      if (v.statePath.empty()) return "unreadable: no state folder: " + CtlErrorText(v.stateError);
      return "unreadable: " + v.statePath + ": " +
             (v.stateError == -1 ? std::string("not a state file this version reads") : CtlErrorText(v.stateError));
    case CtlStateKind::Unknown: break;
  }
  return "unknown: whether its service runs cannot be told";
}

const char* CtlStationState(const StateStation& s, uint64_t now) {
  return s.up ? "up" : s.nextTry > now ? "backoff" : "down";
}

CtlTotals CtlSum(const StateRecord& state) {
  CtlTotals t;
  for (const StateStation& s : state.stations) {
    t.pending += s.pending;
    if (s.oldestPending != 0 && (t.oldestPending == 0 || s.oldestPending < t.oldestPending))
      t.oldestPending = s.oldestPending;
    if (!s.up) {
      ++t.stationsDown;
      if (s.downSince != 0 && (t.longestDown == 0 || s.downSince < t.longestDown)) t.longestDown = s.downSince;
    }
  }
  return t;
}

std::string CtlLocalTime(uint64_t ms) { return ms == 0 ? "never" : Format("%Y-%m-%d %H:%M:%S", ms, false); }

std::string CtlIsoUtc(uint64_t ms) { return Format("%Y-%m-%dT%H:%M:%SZ", ms, true); }

std::string CtlDuration(uint64_t ms) {
  const uint64_t s = ms / 1000;
  auto two = [](uint64_t big, const char* bigUnit, uint64_t small, const char* smallUnit) {
    return std::to_string(big) + " " + bigUnit + " " + std::to_string(small) + " " + smallUnit;
  };
  if (s < 60) return std::to_string(s) + " s";
  if (s < 3600) return two(s / 60, "min", s % 60, "s");
  if (s < 86400) return two(s / 3600, "h", s % 3600 / 60, "min");
  return two(s / 86400, "d", s % 86400 / 3600, "h");
}

uint64_t CtlAgeSeconds(uint64_t then, uint64_t now) { return then != 0 && now > then ? (now - then) / 1000 : 0; }

