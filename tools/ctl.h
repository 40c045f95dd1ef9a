// The control tool's commands and the pieces they share. Each command takes
// the arguments after its name and returns the program's exit status.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "buffile.h"
#include "paramfile.h"
#include "state.h"
#include "tormel.h"

// Exit statuses of the control tool.
constexpr int CTL_EXIT_OK = 0;
constexpr int CTL_EXIT_FAILED = 1;  // the command was understood and did not succeed
constexpr int CTL_EXIT_USAGE = 2;   // the command line was not understood

int CtlStop(int argc, char** argv);
int CtlStatus(int argc, char** argv);
int CtlCheck(int argc, char** argv);
int CtlPut(int argc, char** argv);
int CtlInstall(int argc, char** argv);
int CtlUninstall(int argc, char** argv);
int CtlMetrics(int argc, char** argv);
int CtlHealth(int argc, char** argv);

// Prints "tormelctl: TEXT" on standard error.
void CtlError(const std::string& text);
// Prints the usage text on standard error and returns CTL_EXIT_USAGE.
int CtlUsageError(const std::string& text);
void CtlPrintUsage(FILE* out);
// The system's text for an error number.
std::string CtlErrorText(int err);

// Reads a parameter file with the service's own table, as start-up does.
struct CtlParams {
  ParamEntry table[TORMEL_PARAM_COUNT];
  TormelConfig config;
  int32_t code;
  int32_t where;
};
// True when the file reads; otherwise TormelStartupFailure() tells why.
bool CtlReadParams(const char* path, CtlParams* params);

// What tormelctl sees of the service: whether an instance runs, its events,
// and the state it publishes (state.h), taken at one moment.
enum class CtlStateKind {
  Current,     // the running service's own
  Ended,       // written at the end of its service's run
  NotRunning,  // no instance runs (with or without a state left behind)
  Other,       // written by a process that no longer holds the instance
  Missing,     // an instance runs, but has published no state
  Unreadable,  // a file that is no state file, or cannot be read
  Unknown,     // whether an instance runs cannot be told
};
struct CtlView {
  int held = -1;           // OsMutexIsHeld: 1 running, 0 not, -1 unknown
  std::string heldError;   // why it cannot be told
  std::string stopEvent;   // "set", "reset", "absent", or "unknown (...)"
  std::string startEvent;
  bool eventsUnknown = false;
  std::string statePath;   // empty when the state folder cannot be had
  int stateError = 0;      // StatePath's or StateRead's result
  StateRecord state;       // as read; empty unless stateError is 0
  CtlStateKind kind = CtlStateKind::Unknown;
  uint64_t now = 0;        // wall-clock milliseconds, the moment of the look
};
// Looks at the service; events only when asked (metrics and health need none).
void CtlLook(bool events, CtlView* view);
// One line on why the state does not speak for the service ("" when current).
std::string CtlNotCurrentText(const CtlView& view);
// The stable word for the kind, as --json and health print it.
const char* CtlStateKindName(CtlStateKind kind);

// Stations whose state is "up", "backoff" (down, waiting for its next try)
// or "down" (down, to be tried again now).
const char* CtlStationState(const StateStation& station, uint64_t now);
// The sums over the stations of what they hold.
struct CtlTotals {
  uint64_t pending = 0;
  uint64_t oldestPending = 0;  // the earliest, 0 when nothing is pending
  uint64_t stationsDown = 0;
  uint64_t longestDown = 0;    // since when the station down longest is down, 0 when none
};
CtlTotals CtlSum(const StateRecord& state);

// Times (wall-clock milliseconds, 0 never) as texts.
std::string CtlLocalTime(uint64_t ms);  // "2026-01-02 10:11:12", this machine's time zone
std::string CtlIsoUtc(uint64_t ms);     // "2026-01-02T09:11:12Z"
std::string CtlDuration(uint64_t ms);   // "2 d 3 h", "1 h 5 min", "4 min 10 s", "12 s"
// Whole seconds from then to now, 0 when then lies ahead (a clock set back).
uint64_t CtlAgeSeconds(uint64_t then, uint64_t now);

// A buffer file as status shows it.
struct CtlBufferFile {
  BufEntry entry;
  BufView view;
  bool readable = false;
};
// status --json: the whole document. files is null when the parameter
// file does not read; base names the files' base.
std::string CtlStatusJson(const CtlView& view, const std::vector<CtlBufferFile>* files, const char* base);
