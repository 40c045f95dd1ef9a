// Files in delivery: each on a connection of its own to its station, begun
// without waiting, served whenever the loop's one wait says it is ready,
// and ended with the file retired once every record in it is delivered.
#include <algorithm>

#include "os_time.h"
#include "run.h"
#include "sockio.h"
#include "text.h"
#include "timeout.h"

namespace {

// Marks of a file in delivery are made durable at least this often.
constexpr uint64_t kGroupCommitMs = 1000;

uint64_t TimeoutMs(const TormelRun* run) { return static_cast<uint64_t>(SockioTimeoutMs(run->config->timeout)); }

TormelDelivery* FreeSlot(TormelRun* run) {
  for (TormelDelivery& d : run->deliveries)
    if (!d.active) return &d;
  return nullptr;
}

// A file goes back to the head of its station's queue: it comes first when
// the station may be tried again.
void Requeue(TormelRun* run, TormelStation* station, const BufEntry& entry, uint64_t order) {
  station->queue.push_front(TormelQueued{entry, order, nullptr});
  run->queued[entry.path] = station;
}

void ReportStrays(TormelRun* run, BufFile* f) {
  uint64_t behind = BufNewStrayBytes(&run->folder, f);
  if (behind == 0) return;
  TormelLog(1, 0, behind > 0x7fffffff ? 0x7fffffff : static_cast<int32_t>(behind), f->entry.path.c_str(),
            "Fehler: Text hinter CTRL-Z in Xfr-Bufferdatei Nr. %u!", f->entry.n);
}

void Release(TormelDelivery* d) {
  if (!d->retiring) d->station->busy = false;
  d->retiring = false;
  d->active = false;
  d->again = false;
  d->connecting = false;
  d->handle = 0;
}

// The files a station that now rests would have held open: closed, since
// they wait a while.
void CloseHeld(TormelRun* run, TormelStation* station) {
  for (TormelQueued& q : station->queue) {
    if (q.open == nullptr) continue;
    BufFileClose(&run->folder, q.open.get());
    q.open = nullptr;
    --run->heldOpen;
  }
}

// A connection that could not be made: logged, the file kept for the
// station's next try, the station resting.
void ConnectFailed(TormelRun* run, TormelDelivery* d, int32_t code) {
  const BufEntry entry = d->file.entry;
  TormelStation* station = d->station;
  BufFileClose(&run->folder, &d->file);
  CSocketClose(d->handle);
  Release(d);
  TormelLog(100, 0, 0, "", "Fehler: CSocketClientOpen! ErrorCode: %d", static_cast<int>(code));
  TormelStationFailed(run, station, "CSocketClientOpen", code);
  Requeue(run, station, entry, d->order);
  CloseHeld(run, station);
}

// Takes the file in f into delivery in the free slot d: begins its
// connection.
void Begin(TormelRun* run, TormelDelivery* d, TormelStation* station, BufFile* f, uint64_t order) {
  // A file whose marks failed before waits, unconnected, until they work.
  if (!BufMarksWritable(&run->folder, f)) {
    BufFileClose(&run->folder, f);
    return;
  }
  d->file = *f;
  f->stream.file = OsFile{};
  d->station = station;
  d->order = order;
  d->active = true;
  d->connecting = true;
  d->unpolled = true;
  d->wantWrite = true;
  d->acknowledged = 0;
  station->busy = true;
  d->records = BufCursor{&run->folder, &d->file};
  d->deadline = TormelNow(run) + TimeoutMs(run);
  d->syncedAt = TormelNow(run);
  int32_t r = CSocketClientStart(&d->handle, station->address.c_str(), run->config->port, run->config->timeout);
  if (r != 0) ConnectFailed(run, d, r);
}

// Takes a queued file in hand: the one held open, or opened again; false
// when it no longer needs its station now (gone, nothing to send yet, or it
// names another station, in whose queue it then is).
bool Reopen(TormelRun* run, TormelStation* station, const TormelQueued& queued, BufFile* f) {
  if (queued.open != nullptr) {
    *f = *queued.open;
    --run->heldOpen;
    return true;
  }
  if (BufFileOpen(&run->folder, f, queued.entry) != 0) {
    TormelLedgerForget(run, queued.entry.path);
    return false;
  }
  if (TormelOnlyToRemove(run, f)) return false;
  if (TormelFirstLineUnfinished(run, f)) {
    BufFileClose(&run->folder, f);
    return false;
  }
  // A file too short to name its receiver stays with the station it was
  // queued for.
  char destIp[sizeof run->walk.destIp];
  TextCopy(destIp, sizeof destIp, station->address.c_str());
  if (!TormelReadReceiver(f, destIp)) {
    BufFileClose(&run->folder, f);
    return false;
  }
  const std::string address = TormelStationAddress(destIp);
  if (address == station->address) {
    TormelLedgerCount(run, f, station);
    return true;
  }
  BufFileClose(&run->folder, f);
  TormelStation* other = TormelStationOf(run, address);
  // In the order the walk met it among the other station's files.
  auto at = std::find_if(other->queue.begin(), other->queue.end(),
                         [&](const TormelQueued& q) { return q.order > queued.order; });
  other->queue.insert(at, TormelQueued{queued.entry, queued.order, nullptr});
  run->queued[queued.entry.path] = other;
  return false;
}

// Makes the delivery's marks durable; a failure stops the file.
void SyncMarks(TormelRun* run, TormelDelivery* d) {
  if (int rc = BufSyncMarks(&d->file); rc != 0) TormelWindowMarksFailed(run, d, rc, true);
  d->syncedAt = TormelNow(run);
}

void Exchange(TormelRun* run, TormelDelivery* d, bool readable);

// The file's part of the end of a delivery: retired when all in it is
// delivered, and closed.
void RetireFile(TormelRun* run, TormelDelivery* d) {
  ReportStrays(run, &d->file);
  // The marks reach the disk before the file may go, so that a removal a
  // power cut undoes brings it back with nothing pending; where removals
  // are made durable together, the removal itself does, within a second,
  // and only a file that stays has its marks synced.
  if (!run->folder.commitTogether) SyncMarks(run, d);
  BufRetirement outcome = BufRetirement::Kept;
  if (TormelWindowDelivered(d)) {
    outcome = BufRetire(&run->folder, &d->file, BufTell(&d->file.stream));
    if (outcome == BufRetirement::Removed) ++run->totals.filesRemoved;
  }
  if (run->folder.commitTogether && outcome != BufRetirement::Removed) SyncMarks(run, d);
  // Nothing of it waits under its old name any more; a file that stays is
  // counted again, with what its producer added meanwhile.
  if (outcome != BufRetirement::Kept) {
    TormelLedgerForget(run, d->file.openedAs);
  } else {
    TormelLedgerCount(run, &d->file, d->station);
  }
  if (BufFileClose(&run->folder, &d->file)) TormelWalkWake(run);
  Release(d);
}

// The exchange is over: the connection closed and the station told how it
// went. A failed one's file is kept at once; any other goes in the loop's
// next turn, once the station's next file is on its way, so that its
// retirement costs the station no time.
void Finish(TormelRun* run, TormelDelivery* d) {
  int32_t r = CSocketClose(d->handle);
  if (r != 0) TormelLog(1, r, 0, "", "Fehler: CSocketClose! ErrorCode: %d", static_cast<int>(r));
  d->handle = 0;
  TormelStation* station = d->station;
  const int32_t failure = d->window.failure;
  if (failure == 0) {
    station->busy = false;
    d->retiring = true;
    d->retireTurn = run->turn;
    return;
  }
  // A failed exchange is a failure of the station; a refusal is not: that
  // file simply waits for its next turn.
  const BufEntry entry = d->file.entry;
  RetireFile(run, d);
  TormelStationFailed(run, station, d->window.failedCall, failure);
  Requeue(run, station, entry, d->order);
  CloseHeld(run, station);
}

void Exchange(TormelRun* run, TormelDelivery* d, bool readable) {
  // A few rounds at most, so that one fast connection does not keep the
  // others waiting; then the loop's turn, and this one's again at once.
  d->again = true;
  for (int round = 0; round < 8; ++round) {
    TormelExchange step = TormelWindowStep(run, d, readable, &d->wantWrite);
    if (step == TormelExchange::Done) {
      Finish(run, d);
      TormelDispatch(run);
      return;
    }
    d->deadline = d->window.lastProgress + TimeoutMs(run);
    if (step == TormelExchange::Busy) {
      d->again = false;
      return;
    }
    readable = false;
  }
}

}  // namespace

bool TormelFileInHand(const TormelRun* run, const std::string& path) {
  if (run->queued.count(path) != 0) return true;
  for (const TormelDelivery& d : run->deliveries)
    if (d.active && (d.file.entry.path == path || d.file.openedAs == path)) return true;
  return false;
}

bool TormelDelivering(const TormelRun* run) {
  return std::any_of(run->deliveries.begin(), run->deliveries.end(), [](const TormelDelivery& d) { return d.active; });
}

void TormelEnqueue(TormelRun* run, TormelStation* station, BufFile* f) {
  const uint64_t order = run->nextOrder++;
  TormelDelivery* d = FreeSlot(run);
  if (d != nullptr && !station->busy && station->queue.empty() && !TormelStationResting(run, station)) {
    Begin(run, d, station, f, order);
    return;
  }
  std::shared_ptr<BufFile> held;
  if (run->heldOpen < TORMEL_HELD_OPEN_MAX && !TormelStationResting(run, station)) {
    held = std::make_shared<BufFile>(*f);
    ++run->heldOpen;
  } else {
    BufFileClose(&run->folder, f);
  }
  station->queue.push_back(TormelQueued{f->entry, order, held});
  run->queued[f->entry.path] = station;
}

void TormelDispatch(TormelRun* run) {
  for (;;) {
    TormelDelivery* d = FreeSlot(run);
    if (d == nullptr) return;
    TormelStation* next = nullptr;
    for (auto& [address, station] : run->stations) {
      if (station.busy || station.queue.empty() || TormelStationResting(run, &station)) continue;
      if (next == nullptr || station.queue.front().order < next->queue.front().order) next = &station;
    }
    if (next == nullptr) return;
    TormelQueued queued = next->queue.front();
    next->queue.pop_front();
    run->queued.erase(queued.entry.path);
    BufFile f;
    if (Reopen(run, next, queued, &f)) Begin(run, d, next, &f, queued.order);
  }
}

void TormelServe(TormelRun* run, TormelDelivery* d, bool readable, bool writable) {
  if (d->connecting) {
    if (!writable) return;
    int32_t r = CSocketClientFinish(d->handle);
    if (r != 0) {
      ConnectFailed(run, d, r);
      TormelDispatch(run);
      return;
    }
    d->connecting = false;
    TormelStationUp(run, d->station);
    TormelWindowStart(&d->window, run->config->window, TormelNow(run));
  }
  Exchange(run, d, readable);
}

void TormelExpire(TormelRun* run, TormelDelivery* d) {
  if (d->connecting) {
    ConnectFailed(run, d, SOCKIO_ETIMEOUT);
  } else {
    TormelWindowTimeOut(d);
    Finish(run, d);
  }
  TormelDispatch(run);
}

void TormelSyncMarks(TormelRun* run) {
  const uint64_t now = TormelNow(run);
  if (run->folder.removalsUnsynced && run->commitBy == 0) run->commitBy = now + kGroupCommitMs;
  if (run->commitBy != 0 && now >= run->commitBy) {
    BufFolderCommit(&run->folder);
    run->commitBy = 0;
  }
  for (TormelDelivery& d : run->deliveries) {
    if (!d.active || !d.file.marksUnsynced || now - d.syncedAt < kGroupCommitMs) continue;
    SyncMarks(run, &d);
    if (d.window.marksFailed && !d.retiring) Exchange(run, &d, false);  // ends once the frames in flight are answered
  }
}

uint64_t TormelNextSync(const TormelRun* run) {
  uint64_t next = run->commitBy;
  for (const TormelDelivery& d : run->deliveries)
    if (d.active && d.file.marksUnsynced && (next == 0 || d.syncedAt + kGroupCommitMs < next))
      next = d.syncedAt + kGroupCommitMs;
  return next;
}

void TormelRetireFinished(TormelRun* run) {
  for (TormelDelivery& d : run->deliveries)
    if (d.active && d.retiring && d.retireTurn != run->turn) RetireFile(run, &d);
}

void TormelAbandonAll(TormelRun* run) {
  for (auto& [address, station] : run->stations)
    for (TormelQueued& q : station.queue)
      if (q.open != nullptr) BufFileClose(&run->folder, q.open.get());
  for (TormelDelivery& d : run->deliveries) {
    if (!d.active) continue;
    if (d.retiring) {
      RetireFile(run, &d);
      continue;
    }
    // Unanswered records stay pending for the next run; nothing is logged
    // for them.
    SyncMarks(run, &d);
    BufFileClose(&run->folder, &d.file);
    CSocketClose(d.handle);
    Release(&d);
  }
  BufFolderCommit(&run->folder);
}
