// tormelctl status: whether the service runs, its events, and what waits in
// its buffer files. Looks only; changes nothing.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

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

// The numbers n of the files named BASE<n>.BUF, as the service names them
// (no leading zeros), in ascending order.
std::vector<unsigned> BufferNumbers(const std::string& base) {
  fs::path basePath(base);
  fs::path folder = basePath.parent_path();
  if (folder.empty()) folder = ".";
  std::string prefix = basePath.filename().string();
  std::vector<unsigned> numbers;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    const std::string suffix = ".BUF";
    if (name.size() <= prefix.size() + suffix.size()) continue;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
    std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    uint64_t n = 0;
    if (digits[0] == '0' || !CtlParseNumber(digits.c_str(), 1, 0xffffffffu, &n)) continue;
    std::error_code typeEc;
    if (!it->is_regular_file(typeEc)) continue;
    numbers.push_back(static_cast<unsigned>(n));
  }
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

}  // namespace

int CtlStatus(int argc, char** argv) {
  if (argc > 1) return CtlUsageError("status takes at most one parameter file");
  const char* path = argc == 1 ? argv[0] : OsDefaultParameterFile();

  int err = 0;
  int held = OsMutexIsHeld(TORMEL_MUTEX_NAME, &err);
  bool unknown = held < 0;
  std::string instance = held == 1 ? "running" : held == 0 ? "not running" : "unknown (" + std::string(TORMEL_MUTEX_NAME) + " cannot be reached: " + CtlErrorText(err) + ")";
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
  char base[sizeof params.config.bufferFile];
  snprintf(base, sizeof base, "%s", params.config.bufferFile);
  TormelBufferBase(base);

  std::vector<unsigned> numbers = BufferNumbers(base);
  printf("buffer files: %zu\n", numbers.size());
  // What cannot be told is no answer.
  int status = unknown ? CTL_EXIT_FAILED : CTL_EXIT_OK;
  for (unsigned n : numbers) {
    char name[sizeof base + 16];
    TormelBufferName(name, sizeof name, base, n);
    CtlBufferInfo info;
    if (!CtlReadBuffer(name, &info)) {
      std::error_code ec;
      if (!fs::exists(name, ec) && !ec) continue;  // delivered and removed meanwhile
      printf("%s: unreadable\n", name);
      status = CTL_EXIT_FAILED;
      continue;
    }
    printf("%s: receiver %s, %llu pending, %llu delivered\n", name,
           info.receiver.empty() ? "(none)" : info.receiver.c_str(), static_cast<unsigned long long>(info.pending),
           static_cast<unsigned long long>(info.delivered));
  }
  return status;
}
