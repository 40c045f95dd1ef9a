// tormelctl status: whether the service runs, its events, and what waits in
// its buffer files. Looks only; changes nothing.
#include <cstdio>
#include <filesystem>
#include <vector>

#include "buffile.h"
#include "ctl.h"
#include "os_error.h"
#include "os_process.h"
#include "os_sync.h"

namespace fs = std::filesystem;

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

// One line for a buffer file: its receiver and counts, whether it is
// retired, and what lies unsent behind a CTRL-Z.
std::string Describe(const BufEntry& entry, const BufView& view, const char* base) {
  std::string text = entry.path + ": receiver " + (view.receiver.empty() ? "(none)" : view.receiver) + ", " +
                     std::to_string(view.pending) + " pending, " + std::to_string(view.delivered) + " delivered";
  if (entry.seq != 0)
    text += ", retired from " + BufFileName(base, entry.n) + " while a producer still held it open";
  if (view.behindMark > 0)
    text += ", " + std::to_string(view.behindMark) + " bytes behind a CTRL-Z that are never sent";
  return text;
}

}  // namespace

int CtlStatus(int argc, char** argv) {
  if (argc > 1) return CtlUsageError("status takes at most one parameter file");
  const char* path = argc == 1 ? argv[0] : OsDefaultParameterFile();

  int err = 0;
  int held = OsMutexIsHeld(TORMEL_MUTEX_NAME, &err);
  bool unknown = held < 0;
  std::string instance = held == 1   ? "running"
                         : held == 0 ? "not running"
                                     : "unknown (" + std::string(TORMEL_MUTEX_NAME) + " cannot be reached: " +
                                           CtlErrorText(err) + ")";
  printf("instance: %s\n", instance.c_str());
  printf("%s: %s\n", TORMEL_STOP_EVENT_NAME, EventState(TORMEL_STOP_EVENT_NAME, &unknown).c_str());
  printf("%s: %s\n", TORMEL_START_EVENT_NAME, EventState(TORMEL_START_EVENT_NAME, &unknown).c_str());

  CtlParams params;
  if (!CtlReadParams(path, &params)) {
    printf("buffer files: unknown, the parameter file does not read\n");
    fflush(stdout);
    fprintf(stderr, "%s\n", TormelStartupFailure());
    return CTL_EXIT_FAILED;
  }
  const char* base = params.config.bufferFile;
  std::vector<BufEntry> entries = BufListFolder(base);
  printf("buffer files: %zu\n", entries.size());
  // What cannot be told is no answer.
  int status = unknown ? CTL_EXIT_FAILED : CTL_EXIT_OK;
  for (const BufEntry& entry : entries) {
    BufView view;
    if (BufInspect(entry.path.c_str(), &view) != 0) {
      std::error_code ec;
      if (!fs::exists(fs::symlink_status(entry.path, ec)) && !ec) continue;  // delivered and removed meanwhile
      printf("%s: unreadable\n", entry.path.c_str());
      status = CTL_EXIT_FAILED;
      continue;
    }
    printf("%s\n", Describe(entry, view, base).c_str());
  }
  return status;
}
