// A window of records in flight on one connection: up to config->window
// frames are sent before their answers come, so that a long round trip no
// longer limits the rate to one record per round trip; a window of one is
// the exchange of one record after another. Nothing here waits: the loop
// waits for every connection at once and calls in when one is ready.
//
// Each answer "1" marks its record at once, so the mark is on disk before a
// record behind it takes its place in the window. After the first other
// answer, or a failed call, no further frame is sent; the answers to frames
// already sent are still taken (within the time-out) and marked, since the
// receiver took those records. A crash repeats at most the frames in flight.
#include "run.h"
#include "sockio.h"

namespace {

void Push(TormelWindow* w, uint64_t lineStart) {
  w->starts[static_cast<size_t>((w->oldest + w->count) % w->limit)] = lineStart;
  ++w->count;
}

uint64_t Pop(TormelWindow* w) {
  uint64_t start = w->starts[static_cast<size_t>(w->oldest)];
  w->oldest = (w->oldest + 1) % w->limit;
  --w->count;
  return start;
}

size_t BatchBytes(const TormelWindow* w) { return static_cast<size_t>(w->batch) * TORMEL_FRAME_SIZE; }

// Frames sent whole and not answered: only these may be answered.
int Awaiting(const TormelWindow* w) {
  int unsentWhole = w->batch - static_cast<int>(w->sent / TORMEL_FRAME_SIZE);
  return w->count - unsentWhole;
}

void Fail(TormelWindow* w, const char* operation, int32_t code) {
  if (w->failure != 0) return;
  w->failure = code;
  w->failedCall = operation;
  w->sending = false;
  // The exchange's entry, then the loop's, as for one record at a time.
  if (TormelExchangeFailed(operation, code) == SOCKIO_ESTOPPED) return;
  TormelLog(1, code, 0, "", "Fehler: SndWithReply! ErrorCode: %ld", static_cast<long>(code));
}

// Once the batch before is out, takes as many pending records as the
// window has room for into the next batch.
void Fill(TormelRun* run, TormelDelivery* d) {
  TormelWindow* w = &d->window;
  if (w->sent < BatchBytes(w)) return;
  w->batch = 0;
  w->sent = 0;
  char line[TORMEL_LINE_SIZE];
  while (w->sending && w->moreToRead && w->count < w->limit) {
    int length = 0;
    uint64_t lineStart = 0;
    BufPending next = BufNextPending(&d->records, line, &length, &lineStart);
    if (next == BufPending::Later) {
      w->later = true;  // the loop's turn; filled on at once after it
      break;
    }
    if (next != BufPending::Found) {
      if (next == BufPending::Failed)
        TormelLogFileError(BufError(&d->file.stream), "Fehler: Satz aus Xfr-Bufferdatei lesen (fgets)!");
      w->moreToRead = false;
      break;
    }
    TormelBuildFrame(w->out.data() + BatchBytes(w), line, static_cast<size_t>(length), run->prefix);
    Push(w, lineStart);
    ++w->batch;
  }
}

// No frame of the batch is begun any more: those not begun stay pending.
// A frame begun is sent whole, or the receiver would be out of step.
void DropUnbegun(TormelWindow* w) {
  int begun = static_cast<int>((w->sent + TORMEL_FRAME_SIZE - 1) / TORMEL_FRAME_SIZE);
  w->count -= w->batch - begun;
  w->batch = begun;
}

// Sends what the connection takes of the batch; true on progress.
bool Send(TormelDelivery* d) {
  TormelWindow* w = &d->window;
  if (w->sent >= BatchBytes(w)) return false;
  int32_t sent = 0;
  int32_t r = CSocketWriteSome(d->handle, w->out.data() + w->sent, static_cast<int32_t>(BatchBytes(w) - w->sent), &sent);
  if (r != 0) {
    Fail(w, "CSocketWrite", r);
    return false;
  }
  w->sent += static_cast<size_t>(sent);
  return sent > 0;
}

// Takes the answers that have come; true on progress. More bytes than
// frames awaiting them put the receiver out of step.
bool Receive(TormelRun* run, TormelDelivery* d) {
  TormelWindow* w = &d->window;
  char answers[TORMEL_WINDOW_MAX + 1];
  int awaiting = Awaiting(w);
  int32_t got = 0;
  int32_t r = CSocketReadSome(d->handle, answers, awaiting + 1, &got);
  if (r != 0) {
    Fail(w, "CSocketRead", r);
    return false;
  }
  for (int i = 0; i < got; ++i) {
    if (i == awaiting) {
      Fail(w, "CSocketRead", SOCKIO_EEXTRA);
      return false;
    }
    uint64_t start = Pop(w);
    if (answers[i] == TORMEL_ANSWER_DELIVERED) {
      if (int rc = BufMarkDelivered(&d->file, start); rc != 0 && !w->marksFailed)
        TormelWindowMarksFailed(run, d, rc, false);
      TormelLedgerDelivered(run, d->file.openedAs);
      ++d->acknowledged;
      ++d->station->seen.delivered;
      ++run->totals.delivered;
    } else if (!w->refused) {
      w->refused = true;
      w->sending = false;
      ++d->station->seen.refused;
      ++run->totals.refused;
      DropUnbegun(w);
    }
  }
  return got > 0;
}

}  // namespace

void TormelWindowStart(TormelWindow* w, int limit, uint64_t now) {
  limit = limit < 1 ? 1 : limit > TORMEL_WINDOW_MAX ? TORMEL_WINDOW_MAX : limit;
  *w = TormelWindow{};
  w->limit = limit;
  w->starts.resize(static_cast<size_t>(limit));
  w->out.resize(static_cast<size_t>(limit) * TORMEL_FRAME_SIZE + 1);
  w->lastProgress = now;
}

TormelExchange TormelWindowStep(TormelRun* run, TormelDelivery* d, bool readable, bool* wantWrite) {
  TormelWindow* w = &d->window;
  Fill(run, d);
  bool progress = Send(d);
  // An answer has come only when the wait said so; a frame just sent is
  // not answered yet.
  bool answered = w->failure == 0 && readable && Receive(run, d);
  if (w->failure != 0) return TormelExchange::Done;
  bool batchOut = w->sent >= BatchBytes(w);
  if (batchOut && w->count == 0 && (!w->sending || !w->moreToRead)) return TormelExchange::Done;
  *wantWrite = !batchOut;
  if (progress || answered) w->lastProgress = TormelNow(run);
  // Answers make room in the window, and a fill cut short goes on: at once.
  bool again = answered || w->later;
  w->later = false;
  return again ? TormelExchange::Again : TormelExchange::Busy;
}

void TormelWindowMarksFailed(TormelRun* run, TormelDelivery* d, int err, bool syncing) {
  TormelWindow* w = &d->window;
  w->marksFailed = true;
  if (w->sending) {
    w->sending = false;
    DropUnbegun(w);
  }
  if (!BufNoteMarkFailure(&run->folder, &d->file)) return;
  if (syncing) {
    TormelLogFileError(err, "Fehler: Markierungen in Xfr-Bufferdatei Nr. %u sichern (fsync)!", d->file.entry.n);
  } else {
    TormelLogFileError(err, "Fehler: Markierung in Xfr-Bufferdatei Nr. %u schreiben!", d->file.entry.n);
  }
}

void TormelWindowTimeOut(TormelDelivery* d) {
  TormelWindow* w = &d->window;
  Fail(w, Awaiting(w) > 0 ? "CSocketRead" : "CSocketWrite", SOCKIO_ETIMEOUT);
}

bool TormelWindowDelivered(const TormelDelivery* d) {
  const TormelWindow* w = &d->window;
  return w->failure == 0 && !w->refused && !w->marksFailed && !w->moreToRead && d->records.complete;
}
