// The forwarding loop: one thread, one wait. The walk goes through the
// numbered buffer files and hands each to the station it names; the files
// in delivery go out on connections of their own, begun and served without
// blocking; and the loop waits for all of them, the folder watch and the
// stop request at once, until its next timer.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "os_error.h"
#include "os_process.h"
#include "os_service.h"
#include "os_stop.h"
#include "os_time.h"
#include "run.h"
#include "sockio.h"

namespace {

constexpr const char* kFunction = "TormelWork()";
constexpr uint64_t kStopCheckMs = 100;  // the stop event is read at most this often
constexpr uint64_t kLongestWaitMs = 1000;

void LogV(int32_t severity, int32_t code, int32_t secondary, const char* detail, const char* format, va_list args) {
  char message[TORMEL_MESSAGE_SIZE];
  vsnprintf(message, sizeof message, format, args);
  CLogWrite(TORMEL_LOG_SOURCE, kFunction, severity, code, secondary, message, detail);
}

// A termination signal that resets the event between the test and the set
// below would be overwritten; its flag stays, so it is asked too. The event
// is set again after every check that found it set, as the controllers
// expect.
bool StopRequested(TormelRun* run) {
  if (run->stopping || OsStopRequested()) return true;
  const uint64_t now = TormelNow(run);
  if (run->lastStopCheck != 0 && now - run->lastStopCheck < kStopCheckMs) return false;
  run->lastStopCheck = now;
  if (OsEventIsSet(TormelStopEvent) == 0) return true;
  OsEventSet(TormelStopEvent);
  return false;
}

// When the loop has something to do next, on its own clock.
uint64_t NextTimer(const TormelRun* run) {
  // The service manager's watchdog hears from the loop at least this often.
  uint64_t longest = kLongestWaitMs;
  if (uint32_t keepAlive = OsServiceKeepAliveIntervalMs(); keepAlive != 0) longest = std::min<uint64_t>(longest, keepAlive);
  uint64_t next = TormelNow(run) + longest;
  if (run->walk.pauseUntil == 0 && !TormelWalkHeldBack(run)) return 0;
  for (const TormelDelivery& d : run->deliveries)
    if (d.active && (d.again || d.retiring)) return 0;
  if (run->walk.pauseUntil != 0) next = std::min(next, run->walk.pauseUntil);
  for (const TormelDelivery& d : run->deliveries)
    if (d.active) next = std::min(next, d.deadline);
  if (uint64_t retry = TormelNextRetry(run); retry != 0) next = std::min(next, retry);
  if (uint64_t sync = TormelNextSync(run); sync != 0) next = std::min(next, sync);
  if (uint64_t publish = TormelNextPublish(run); publish != 0) next = std::min(next, publish);
  return next;
}

void TakeNews(TormelRun* run) {
  switch (BufWatchRead(&run->folder)) {
    case BufWatchNews::Changed:
      if (run->walk.pauseUntil != 0 && run->hooks.woken != nullptr) run->hooks.woken(run->hooks.context);
      TormelWalkWake(run);
      break;
    case BufWatchNews::Lost:
      TormelReportUnwatched(run, 0, "the folder was removed or replaced");
      break;
    case BufWatchNews::None:
      break;
  }
}

// A connection just begun is often made at once (a station nearby): its
// first frame leaves before the walk opens more files.
bool JustBegun(const TormelRun* run) {
  return std::any_of(run->deliveries.begin(), run->deliveries.end(),
                     [](const TormelDelivery& d) { return d.active && d.unpolled; });
}

// Waits until the next timer, something ready on a connection, a
// producer's change or a stop request, and serves what came.
void Wait(TormelRun* run) {
  const uint64_t now = TormelNow(run);
  const uint64_t next = NextTimer(run);
  const uint32_t ms = next > now ? static_cast<uint32_t>(next - now) : 0;
  SockioWait items[TORMEL_STATIONS_MAX];
  TormelDelivery* serving[TORMEL_STATIONS_MAX];
  int32_t count = 0;
  for (TormelDelivery& d : run->deliveries) {
    if (!d.active || d.retiring) continue;
    items[count] = SockioWait{d.handle, !d.connecting, d.wantWrite};
    d.unpolled = false;
    serving[count++] = &d;
  }
  if (count == 0 && ms > 0 && run->hooks.pause != nullptr) {
    bool passed = run->hooks.pause(run->hooks.context, ms);
    run->lastStopCheck = 0;  // whatever the hook did, the stop event is read next
    if (passed) {
      if (run->hooks.clock == nullptr) run->skippedMs += ms;
      return;
    }
  }
  // The watch's news end a pause of the walk; while the walk goes through
  // the files anyway, they wait in the system's queue, and are taken all
  // at once at its next pause.
  bool news = false;
  OsWatch* watch = run->walk.pauseUntil != 0 ? BufWatchOf(&run->folder) : nullptr;
  int32_t r = CSocketWaitAny(items, count, watch, static_cast<int32_t>(ms), &news);
  if (r == SOCKIO_ESTOPPED) {
    run->stopping = true;
    return;
  }
  if (r != 0 && r != SOCKIO_ETIMEOUT) {
    // Never spins on a wait that fails.
    OsSleepMs(std::min<uint32_t>(ms, 100));
    return;
  }
  if (news) TakeNews(run);
  for (int32_t i = 0; i < count; ++i)
    if (items[i].readable || items[i].writable || serving[i]->again)
      TormelServe(run, serving[i], items[i].readable, items[i].writable);
  const uint64_t after = TormelNow(run);
  for (TormelDelivery& d : run->deliveries)
    if (d.active && !d.retiring && after >= d.deadline) TormelExpire(run, &d);
  // After the frames of this turn have left.
  TormelRetireFinished(run);
  ++run->turn;
  TormelSyncMarks(run);
}

}  // namespace

uint64_t TormelNow(const TormelRun* run) {
  uint64_t base = run->hooks.clock != nullptr ? run->hooks.clock(run->hooks.context) : OsMonotonicMs();
  return base + run->skippedMs;
}

void TormelLog(int32_t severity, int32_t code, int32_t secondary, const char* detail, const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogV(severity, code, secondary, detail, format, args);
  va_end(args);
}

void TormelLogFileError(int err, const char* format, ...) {
  char detail[80];
  OsErrorText(err, detail, sizeof detail);
  va_list args;
  va_start(args, format);
  LogV(1, 0, err, detail, format, args);
  va_end(args);
}

void TormelReportUnwatched(TormelRun* run, int err, const char* why) {
  if (run->watchLossReported) return;
  run->watchLossReported = true;
  char detail[80];
  if (err != 0) {
    OsErrorText(err, detail, sizeof detail);
  } else {
    snprintf(detail, sizeof detail, "%s", why);
  }
  TormelLog(100, 0, err, detail, "Fehler: Keine Meldung von Aenderungen im Xfr-Buffer-Ordner!");
}

int32_t TormelWork(const TormelConfig* config, const TormelHooks* hooks) {
  TormelRun run;
  run.config = config;
  if (hooks != nullptr) run.hooks = *hooks;
  run.random.seed(static_cast<unsigned>(OsWallClockMs() ^ (static_cast<uint64_t>(OsProcessId()) << 16)));
  run.deliveries.resize(static_cast<size_t>(std::clamp(config->stations, 1, TORMEL_STATIONS_MAX)));
  TormelBuildPrefix(run.prefix, config->localIp, config->portText);
  // Each buffer file names its receiver; one too short to name any keeps
  // the one before.
  memcpy(run.walk.destIp, config->destIp, sizeof run.walk.destIp);
  TormelPublishStart(&run);
  BufFolderStart(&run.folder, config->bufferFile);
  if (int err = BufWatchStart(&run.folder); err != 0) TormelReportUnwatched(&run, err, "");
  while (!StopRequested(&run)) {
    // A loop that hangs stops telling the service manager that it lives.
    OsServiceKeepAlive(OsMonotonicMs());
    if (!JustBegun(&run)) TormelWalkOn(&run);
    TormelDispatch(&run);
    if (StopRequested(&run)) break;
    Wait(&run);
    TormelForgetStations(&run);
    TormelPublish(&run, false);
  }
  TormelAbandonAll(&run);
  TormelPublish(&run, true);
  BufFolderStop(&run.folder);
  return 1;
}
