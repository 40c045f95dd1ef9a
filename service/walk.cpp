// The walk through the numbered buffer files, in the order producers rely
// on: file 1, 2, and so on; after a number that has no file the walk pauses
// 500 ms, and from 9 on it starts again at 1. Each file it meets goes to
// the station it names; the walk never waits for a station.
#include <cstdio>
#include <cstring>

#include "os_stop.h"
#include "os_time.h"
#include "run.h"
#include "sockio.h"
#include "text.h"

namespace {

constexpr unsigned kProbeLimit = 9;  // numbers probed while no file exists
constexpr uint32_t kAbsentPauseMs = 500;
constexpr int kStepsAtOnce = 64;     // then the connections get their turn

// Meets the file of entry: true when there was a file to meet. A file
// already waiting for its station or in delivery is not opened again.
bool Meet(TormelRun* run, const BufEntry& entry) {
  TormelWalk* walk = &run->walk;
  if (auto it = run->queued.find(entry.path); it != run->queued.end()) {
    if (TormelStationResting(run, it->second)) {
      walk->roundWaiting = true;
    } else {
      walk->roundActive = true;
    }
    return true;
  }
  if (TormelFileInHand(run, entry.path)) {
    walk->roundActive = true;
    return true;
  }
  BufFile f;
  if (BufFileOpen(&run->folder, &f, entry) != 0) {
    TormelLedgerForget(run, entry.path);
    return false;
  }
  if (TormelOnlyToRemove(run, &f)) return false;
  walk->roundActive = true;
  if (TormelFirstLineUnfinished(run, &f)) {
    BufFileClose(&run->folder, &f);
    return false;
  }
  if (!TormelReadReceiver(&f, walk->destIp)) {
    // One unreadable file must not keep the others from being delivered.
    BufFileClose(&run->folder, &f);
    return true;
  }
  TormelStation* station = TormelStationOf(run, TormelStationAddress(walk->destIp));
  TormelLedgerCount(run, &f, station);
  TormelEnqueue(run, station, &f);
  return true;
}

// A round that found nothing to do but files waiting for stations that
// rest: the walk may sleep until the first of them may be tried, since a
// producer's change wakes it.
bool RoundWasIdle(TormelRun* run) {
  TormelWalk* walk = &run->walk;
  bool idle = !walk->roundActive && walk->roundWaiting && !TormelDelivering(run);
  walk->roundActive = walk->roundWaiting = false;
  return idle && BufWatchOf(&run->folder) != nullptr;
}

void Pause(TormelRun* run, bool idle) {
  TormelWalk* walk = &run->walk;
  // A folder put in place of the watched one tells nothing: looked at once
  // a pause.
  if (BufWatchLost(&run->folder)) TormelReportUnwatched(run, 0, "the folder was removed or replaced");
  walk->pauseUntil = TormelNow(run) + kAbsentPauseMs;
  if (!idle || BufWatchOf(&run->folder) == nullptr) return;
  uint64_t retry = TormelNextRetry(run);
  if (retry > walk->pauseUntil) {
    walk->pauseUntil = retry;
    walk->suspended = true;
  }
}

// The files of the next number; false when the walk pauses after it.
bool Step(TormelRun* run) {
  TormelWalk* walk = &run->walk;
  ++walk->n;
  bool met = false;
  for (const BufEntry& entry : BufFilesOf(&run->folder, walk->n)) {
    if (OsStopRequested()) return false;
    if (Meet(run, entry)) met = true;
  }
  if (met) return true;
  bool roundOver = walk->n >= kProbeLimit;
  if (roundOver) walk->n = 0;
  bool idle = roundOver && RoundWasIdle(run);
  if (walk->passWithoutPause > 0) {
    --walk->passWithoutPause;
    return true;
  }
  Pause(run, idle);
  return false;
}

}  // namespace

bool TormelOnlyToRemove(TormelRun* run, BufFile* f) {
  uint64_t delivered = 0;
  if (!BufDeliveredAndUnchanged(&run->folder, f, &delivered)) return false;
  BufRetire(&run->folder, f, delivered);
  BufFileClose(&run->folder, f);
  return true;
}

bool TormelReadReceiver(BufFile* f, char* destIp) {
  char field[TORMEL_ADDRESS_WIDTH + 1];
  int length = 0;
  if (int err = BufReadReceiverField(&f->stream, field, &length); err != 0) {
    TormelLogFileError(err, "Fehler: IP-String aus Xfr-Bufferdatei Nr. %u lesen (fgets)!", f->entry.n);
    return false;
  }
  if (length > 0) memcpy(destIp, field, sizeof field);
  return true;
}

std::string TormelStationAddress(const char* destIp) {
  uint32_t ipv4 = 0;
  if (SockioParseIPv4(destIp, TORMEL_ADDRESS_WIDTH, &ipv4)) {
    char dotted[16];
    snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", ipv4 >> 24, (ipv4 >> 16) & 0xff, (ipv4 >> 8) & 0xff, ipv4 & 0xff);
    return dotted;
  }
  return TextTrimmed(destIp, strnlen(destIp, TORMEL_ADDRESS_WIDTH));
}

bool TormelFirstLineUnfinished(TormelRun* run, BufFile* f) {
  char line[TORMEL_LINE_SIZE];
  BufSeek(&f->stream, 0);
  int length = BufGets(&f->stream, line, sizeof line);
  bool unfinished = length > 0 && !BufLineReady(&run->folder, f, line, length);
  BufSeek(&f->stream, 0);
  return unfinished;
}

void TormelWalkOn(TormelRun* run) {
  TormelWalk* walk = &run->walk;
  if (TormelWalkHeldBack(run)) return;
  if (walk->pauseUntil != 0) {
    if (TormelNow(run) < walk->pauseUntil) return;
    walk->pauseUntil = 0;
    walk->suspended = false;
  }
  for (int i = 0; i < kStepsAtOnce && !TormelWalkHeldBack(run); ++i)
    if (!Step(run)) return;
}

bool TormelWalkHeldBack(const TormelRun* run) { return run->heldOpen >= TORMEL_HELD_OPEN_MAX; }

void TormelWalkWake(TormelRun* run) {
  run->walk.passWithoutPause = kProbeLimit;
  run->walk.pauseUntil = 0;
  run->walk.suspended = false;
}
