// Publishing the service's state for operators: a small file that only the
// service writes, replaced whole at most once a second when something
// changed, and once more at the end of the run.
#include "os_process.h"
#include "os_time.h"
#include "run.h"

namespace {

constexpr uint64_t kPublishEveryMs = 1000;

StateStation Seen(const TormelRun* run, const TormelStation& station) {
  StateStation seen = station.seen;
  seen.files = seen.pending = seen.oldestPending = 0;
  for (const auto& [path, known] : run->ledger) {
    if (known.station != &station) continue;
    ++seen.files;
    seen.pending += known.pending;
    if (known.pending > 0 && (seen.oldestPending == 0 || known.oldest < seen.oldestPending))
      seen.oldestPending = known.oldest;
  }
  if (station.retryAt == 0) seen.nextTry = 0;
  return seen;
}

}  // namespace

void TormelPublishStart(TormelRun* run) {
  if (StatePath(&run->statePath) != 0) run->statePath.clear();
  run->totals.pid = OsProcessId();
  run->totals.version = TORMEL_VERSION;
  run->totals.started = OsWallClockMs();
}

void TormelPublish(TormelRun* run, bool final) {
  if (run->statePath.empty()) return;
  const uint64_t now = TormelNow(run);
  if (!final && run->publishedAt != 0 && now - run->publishedAt < kPublishEveryMs) return;
  run->publishedAt = now;
  TormelLedgerRecount(run);
  StateRecord record = run->totals;
  record.ended = final;
  for (const auto& [address, station] : run->stations) record.stations.push_back(Seen(run, station));
  if (!final && record == run->published) return;
  run->published = record;
  record.updated = OsWallClockMs();
  // A state that cannot be written is no reason to stop delivering.
  StateWrite(run->statePath.c_str(), record);
}

uint64_t TormelNextPublish(const TormelRun* run) {
  return run->statePath.empty() ? 0 : run->publishedAt + kPublishEveryMs;
}
