// The records of the files the loop knows, per station, for what an
// operator is shown: how many wait, and since when the oldest does.
#include "os_time.h"
#include "run.h"

void TormelLedgerCount(TormelRun* run, BufFile* f, TormelStation* station) {
  BufView view;
  BufSeek(&f->stream, 0);
  int rc = BufCountRecords(&f->stream, &view);
  BufSeek(&f->stream, 0);
  if (rc != 0) return;
  TormelFileView& known = run->ledger[f->openedAs];
  known.station = station;
  known.pending = view.pending;
  // The oldest record is at most as old as its file: when the system does
  // not record that, as old as the loop's first look at it.
  if (known.oldest == 0) known.oldest = f->bornMs != 0 ? f->bornMs : OsWallClockMs();
}

void TormelLedgerDelivered(TormelRun* run, const std::string& path) {
  auto it = run->ledger.find(path);
  if (it != run->ledger.end() && it->second.pending > 0) --it->second.pending;
}

void TormelLedgerForget(TormelRun* run, const std::string& path) { run->ledger.erase(path); }

void TormelLedgerRecount(TormelRun* run) {
  for (const std::string& path : BufTakeTouched(&run->folder)) {
    auto it = run->ledger.find(path);
    // A file in delivery is counted as its records are answered.
    if (it == run->ledger.end() || (TormelFileInHand(run, path) && run->queued.count(path) == 0)) continue;
    BufView view;
    if (BufInspect(path.c_str(), &view) != 0) {
      run->ledger.erase(it);
      continue;
    }
    it->second.pending = view.pending;
  }
}

bool TormelLedgerNames(const TormelRun* run, const TormelStation* station) {
  for (const auto& [path, known] : run->ledger)
    if (known.station == station) return true;
  return false;
}
