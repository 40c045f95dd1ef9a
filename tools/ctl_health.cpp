// tormelctl health: one line and an exit status as monitoring systems take
// them from a plugin (OK 0, WARNING 1, CRITICAL 2, UNKNOWN 3), with the
// figures behind it as performance data after "|".
#include <cstdio>
#include <cstring>

#include "ctl.h"
#include "text.h"

namespace {

enum Health { OK = 0, WARNING = 1, CRITICAL = 2, UNKNOWN = 3 };
constexpr const char* kWords[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};

constexpr uint64_t kDefaultMaxAge = 3600;
constexpr uint64_t kDefaultMaxDown = 600;
constexpr uint64_t kMaxSeconds = 100ull * 365 * 86400;

int Report(Health health, const std::string& text, const std::string& perf = "") {
  printf("TORMEL %s - %s%s\n", kWords[health], text.c_str(), perf.empty() ? "" : (" | " + perf).c_str());
  return health;
}

}  // namespace

int CtlHealth(int argc, char** argv) {
  uint64_t maxAge = kDefaultMaxAge;
  uint64_t maxDown = kDefaultMaxDown;
  for (int i = 0; i < argc; ++i) {
    uint64_t* limit = strcmp(argv[i], "--max-age") == 0 ? &maxAge : strcmp(argv[i], "--max-down") == 0 ? &maxDown : nullptr;
    if (limit == nullptr || i + 1 >= argc)
      return Report(UNKNOWN, std::string("health does not take \"") + argv[i] + "\"; usage: tormelctl health " +
                                 "[--max-age SECONDS] [--max-down SECONDS]");
    if (!TextIsNumberIn(argv[++i], 1, kMaxSeconds, limit))
      return Report(UNKNOWN, std::string(argv[i - 1]) + " \"" + argv[i] + "\" is not a number of seconds");
  }

  CtlView v;
  CtlLook(false, &v);
  switch (v.kind) {
    case CtlStateKind::Current: break;
    case CtlStateKind::Unknown: return Report(UNKNOWN, "cannot tell whether the service runs: " + v.heldError);
    case CtlStateKind::Missing:
    case CtlStateKind::Unreadable: return Report(UNKNOWN, "state " + CtlNotCurrentText(v));
    case CtlStateKind::NotRunning: return Report(CRITICAL, "the service does not run");
    case CtlStateKind::Ended:
    case CtlStateKind::Other: return Report(CRITICAL, "state " + CtlNotCurrentText(v));
  }

  const StateRecord& r = v.state;
  CtlTotals t = CtlSum(r);
  const uint64_t oldestAge = CtlAgeSeconds(t.oldestPending, v.now);
  const uint64_t longestDown = CtlAgeSeconds(t.longestDown, v.now);
  const std::string perf = "pending=" + std::to_string(t.pending) + " oldest_age=" + std::to_string(oldestAge) +
                           "s;;" + std::to_string(maxAge) + ";0 stations=" + std::to_string(r.stations.size()) +
                           " stations_down=" + std::to_string(t.stationsDown) + " longest_down=" +
                           std::to_string(longestDown) + "s;" + std::to_string(maxDown) + ";;0 delivered=" +
                           std::to_string(r.delivered) + "c refused=" + std::to_string(r.refused) +
                           "c failed=" + std::to_string(r.failed) + "c";

  // The station whose oldest record waits longest, and the one down longest.
  const StateStation* waiting = nullptr;
  const StateStation* down = nullptr;
  for (const StateStation& s : r.stations) {
    if (s.oldestPending != 0 && s.oldestPending == t.oldestPending) waiting = &s;
    if (!s.up && s.downSince != 0 && s.downSince == t.longestDown) down = &s;
  }
  if (waiting != nullptr && oldestAge > maxAge)
    return Report(CRITICAL,
                  "a record for " + waiting->address + " has waited " + CtlDuration(oldestAge * 1000) + " (more than " +
                      std::to_string(maxAge) + " s), " + std::to_string(t.pending) + " pending",
                  perf);
  if (down != nullptr && longestDown > maxDown)
    return Report(WARNING,
                  "station " + down->address + " is down since " + CtlLocalTime(down->downSince) + ", for " +
                      CtlDuration(longestDown * 1000) + " (more than " + std::to_string(maxDown) + " s); " +
                      std::to_string(t.stationsDown) + " of " + std::to_string(r.stations.size()) + " stations down",
                  perf);
  std::string text = std::to_string(r.stations.size() - t.stationsDown) + " of " + std::to_string(r.stations.size()) +
                     " stations up, " + std::to_string(t.pending) + " pending";
  if (t.pending > 0) text += ", the oldest waiting " + CtlDuration(oldestAge * 1000);
  return Report(OK, text, perf);
}
