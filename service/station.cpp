// Receiving stations: the backoff of one that failed, and forgetting the
// ones that no file names any more.
#include <algorithm>
#include <cmath>

#include "os_time.h"
#include "run.h"

namespace {

constexpr uint64_t kFirstRetryMs = 1000;
constexpr double kSpread = 0.2;
// A station that no file has named for this long is forgotten.
constexpr uint64_t kForgetMs = 10 * 60 * 1000;

uint64_t WallNow() { return OsWallClockMs(); }

}  // namespace

uint64_t TormelBackoffMs(uint32_t failures, int32_t retryMax, double spread) {
  const uint64_t longest = static_cast<uint64_t>(std::max(retryMax, 1)) * 1000;
  uint64_t delay = kFirstRetryMs;
  for (uint32_t i = 1; i < failures && delay < longest; ++i) delay *= 2;
  delay = std::min(delay, longest);
  // Machines that restart together must not come back to a station in step.
  double factor = 1.0 - kSpread + 2 * kSpread * std::clamp(spread, 0.0, 1.0);
  return std::max(kFirstRetryMs, static_cast<uint64_t>(std::llround(static_cast<double>(delay) * factor)));
}

TormelStation* TormelStationOf(TormelRun* run, const std::string& address) {
  auto [it, made] = run->stations.try_emplace(address);
  TormelStation* station = &it->second;
  if (made) {
    station->address = address;
    station->seen.address = address + ":" + std::to_string(run->config->port);
  }
  station->namedAt = TormelNow(run);
  return station;
}

bool TormelStationResting(const TormelRun* run, const TormelStation* station) {
  return station->retryAt != 0 && TormelNow(run) < station->retryAt;
}

void TormelStationUp(TormelRun* run, TormelStation* station) {
  station->retryAt = 0;
  station->seen.up = true;
  station->seen.failures = 0;
  station->seen.downSince = 0;
  station->seen.nextTry = 0;
  station->seen.lastSuccess = WallNow();
  ++run->totals.connections;
}

void TormelStationFailed(TormelRun* run, TormelStation* station, const char* operation, int32_t code) {
  StateStation& seen = station->seen;
  const uint64_t wall = WallNow();
  if (seen.up) seen.downSince = wall;
  seen.up = false;
  ++seen.failures;
  ++seen.failed;
  ++run->totals.failed;
  seen.failOperation = operation;
  seen.failCode = code;
  seen.failAt = wall;
  double spread = run->hooks.random != nullptr ? run->hooks.random(run->hooks.context)
                                               : std::uniform_real_distribution<double>(0.0, 1.0)(run->random);
  uint64_t delay = TormelBackoffMs(seen.failures, run->config->retryMax, spread);
  station->retryAt = TormelNow(run) + delay;
  seen.nextTry = wall + delay;
}

uint64_t TormelNextRetry(const TormelRun* run) {
  uint64_t next = 0;
  for (const auto& [address, station] : run->stations) {
    if (station.busy || station.queue.empty() || station.retryAt == 0) continue;
    if (next == 0 || station.retryAt < next) next = station.retryAt;
  }
  return next;
}

void TormelForgetStations(TormelRun* run) {
  const uint64_t now = TormelNow(run);
  std::erase_if(run->stations, [&](const auto& item) {
    const TormelStation& s = item.second;
    return !s.busy && s.queue.empty() && now - s.namedAt > kForgetMs && !TormelLedgerNames(run, &s);
  });
}
