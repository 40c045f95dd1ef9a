// tormelctl status: whether the service runs, its events, and what waits in
// its buffer files. Looks only; changes nothing.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "buffile.h"
#include "ctl.h"
#include "os_process.h"
#include "os_sync.h"

namespace fs = std::filesystem;

namespace {

const char* EventState(const char* name) {
  OsEvent ev;
  int err = OsEventOpen(name, &ev);
  if (err == ENOENT) return "absent";
  if (err != 0) return "unknown (cannot be opened)";
  int state = OsEventIsSet(ev);
  OsEventClose(&ev);
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

  int held = OsMutexIsHeld(TORMEL_MUTEX_NAME);
  printf("instance: %s\n", held == 1 ? "running" : held == 0 ? "not running" : "unknown (runtime folder not usable)");
  printf("%s: %s\n", TORMEL_STOP_EVENT_NAME, EventState(TORMEL_STOP_EVENT_NAME));
  printf("%s: %s\n", TORMEL_START_EVENT_NAME, EventState(TORMEL_START_EVENT_NAME));

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
  int status = CTL_EXIT_OK;
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
