// tormelctl status: whether the service runs, its events, its stations as
// its published state tells, and what waits in its buffer files. Looks only;
// changes nothing.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "ctl.h"
#include "os_process.h"

namespace fs = std::filesystem;

namespace {

// One line for a buffer file: its receiver and counts, whether it is
// retired, and what lies unsent behind a CTRL-Z.
std::string Describe(const CtlBufferFile& file, const char* base) {
  const BufEntry& entry = file.entry;
  const BufView& view = file.view;
  if (!file.readable) return entry.path + ": unreadable";
  std::string text = entry.path + ": receiver " + (view.receiver.empty() ? "(none)" : view.receiver) + ", " +
                     std::to_string(view.pending) + " pending, " + std::to_string(view.delivered) + " delivered";
  if (entry.seq != 0)
    text += ", retired from " + BufFileName(base, entry.n) + " (it goes once nobody holds it open and its marks are on the disk)";
  if (view.behindMark > 0)
    text += ", " + std::to_string(view.behindMark) + " bytes behind a CTRL-Z that are never sent";
  return text;
}

std::string N(uint64_t n) { return std::to_string(n); }
// "1 record", "4 records".
std::string Count(uint64_t n, const char* what) { return N(n) + " " + what + (n == 1 ? "" : "s"); }

// "2026-01-02 10:11:12 (5 min 3 s ago)", or "never".
std::string When(uint64_t at, uint64_t now) {
  if (at == 0) return "never";
  if (at > now) return CtlLocalTime(at) + " (in " + CtlDuration(at - now) + ")";
  return CtlLocalTime(at) + " (" + CtlDuration(now - at) + " ago)";
}

void PrintStation(const StateStation& s, uint64_t now) {
  std::string state = CtlStationState(s, now);
  if (s.up) {
    printf("station %s: up\n", s.address.c_str());
  } else {
    printf("station %s: %s since %s, for %s\n", s.address.c_str(), state == "backoff" ? "in backoff, down" : "DOWN",
           s.downSince != 0 ? CtlLocalTime(s.downSince).c_str() : "?",
           CtlDuration(s.downSince != 0 && now > s.downSince ? now - s.downSince : 0).c_str());
    printf("  consecutive failures: %u, next try %s\n", s.failures,
           s.nextTry > now ? When(s.nextTry, now).c_str() : "now");
  }
  if (s.failAt != 0)
    printf("  last failure: %s, code %d, %s\n", s.failOperation.empty() ? "?" : s.failOperation.c_str(), s.failCode,
           When(s.failAt, now).c_str());
  else
    printf("  last failure: never\n");
  printf("  last success: %s\n", When(s.lastSuccess, now).c_str());
  printf("  since start: %s delivered, %s refused, %s failed\n", N(s.delivered).c_str(), N(s.refused).c_str(),
         N(s.failed).c_str());
  if (s.pending == 0)
    printf("  pending: none, %s\n", Count(s.files, "buffer file").c_str());
  else
    printf("  pending: %s in %s, the oldest waiting %s\n", Count(s.pending, "record").c_str(),
           Count(s.files, "buffer file").c_str(),
           s.oldestPending != 0 ? CtlDuration(now - std::min(now, s.oldestPending)).c_str() : "?");
}

void PrintState(const CtlView& v) {
  if (v.kind != CtlStateKind::Current) {
    printf("state: %s\n", CtlNotCurrentText(v).c_str());
    return;
  }
  const StateRecord& r = v.state;
  printf("service: pid %ld, version %s, started %s, state written %s\n", r.pid, r.version.empty() ? "?" : r.version.c_str(),
         When(r.started, v.now).c_str(), When(r.updated, v.now).c_str());
  printf("since start: %s delivered, %s refused, %s failed, %s connections, %s buffer files removed\n",
         N(r.delivered).c_str(), N(r.refused).c_str(), N(r.failed).c_str(), N(r.connections).c_str(),
         N(r.filesRemoved).c_str());
  CtlTotals t = CtlSum(r);
  printf("stations: %zu, %s down\n", r.stations.size(), N(t.stationsDown).c_str());
  for (const StateStation& s : r.stations) PrintStation(s, v.now);
}

}  // namespace

int CtlStatus(int argc, char** argv) {
  bool json = false;
  const char* path = nullptr;
  for (int i = 0; i < argc; ++i) {
    if (strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (path == nullptr && argv[i][0] != '-') {
      path = argv[i];
    } else {
      return CtlUsageError(std::string("status does not take \"") + argv[i] + "\"");
    }
  }
  if (path == nullptr) path = OsDefaultParameterFile();

  CtlView view;
  CtlLook(true, &view);
  // What cannot be told is no answer.
  bool unknown = view.held < 0 || view.eventsUnknown || view.kind == CtlStateKind::Unreadable;

  CtlParams params;
  bool paramsRead = CtlReadParams(path, &params);
  const char* base = paramsRead ? params.config.bufferFile : "";
  std::vector<CtlBufferFile> files;
  if (paramsRead) {
    for (const BufEntry& entry : BufListFolder(base)) {
      CtlBufferFile file;
      file.entry = entry;
      file.readable = BufInspect(entry.path.c_str(), &file.view) == 0;
      if (!file.readable) {
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(entry.path, ec)) && !ec) continue;  // delivered and removed meanwhile
        unknown = true;
      }
      files.push_back(file);
    }
  }

  if (json) {
    fputs(CtlStatusJson(view, paramsRead ? &files : nullptr, base).c_str(), stdout);
  } else {
    std::string instance = view.held == 1 ? "running" : view.held == 0 ? "not running" : "unknown (" + view.heldError + ")";
    printf("instance: %s\n", instance.c_str());
    printf("%s: %s\n", TORMEL_STOP_EVENT_NAME, view.stopEvent.c_str());
    printf("%s: %s\n", TORMEL_START_EVENT_NAME, view.startEvent.c_str());
    PrintState(view);
    if (!paramsRead) {
      printf("buffer files: unknown, the parameter file does not read\n");
    } else {
      printf("buffer files: %zu\n", files.size());
      for (const CtlBufferFile& file : files) printf("%s\n", Describe(file, base).c_str());
    }
  }
  if (!paramsRead) {
    fflush(stdout);
    fprintf(stderr, "%s\n", TormelStartupFailure());
    return CTL_EXIT_FAILED;
  }
  return unknown ? CTL_EXIT_FAILED : CTL_EXIT_OK;
}
