// A window of records in flight: up to config->window frames are sent
// before their answers come, so that a long round trip no longer limits the
// rate to one record per round trip. One thread does it all: the connection
// is waited on for both directions at once, frames go out as the window and
// the connection allow, and answers are taken as they come, in order.
//
// Each answer "1" marks its record at once. After the first other answer,
// or a failed call, no further frame is sent; the answers to frames already
// sent are still taken (within the time-out) and marked, since the receiver
// took those records. A crash repeats at most the frames in flight.
#include <cstring>

#include "os_service.h"
#include "os_time.h"
#include "records.h"
#include "sockio.h"
#include "timeout.h"

namespace {

constexpr int kMaxWindow = 256;

// The frames between the file and their answers: queued in order, sent as
// one stream (as many at a time as the connection takes), answered in order.
struct Window {
  uint64_t starts[kMaxWindow];  // line offsets of the frames queued, oldest first
  int oldest = 0;
  int count = 0;                // frames queued and not answered
  char out[kMaxWindow * TORMEL_FRAME_SIZE + 1];  // the frames of the batch being sent
  int batch = 0;                // frames in out
  size_t sent = 0;              // bytes of out sent
};

void Push(Window* w, uint64_t lineStart) {
  w->starts[(w->oldest + w->count) % kMaxWindow] = lineStart;
  ++w->count;
}

uint64_t Pop(Window* w) {
  uint64_t start = w->starts[w->oldest];
  w->oldest = (w->oldest + 1) % kMaxWindow;
  --w->count;
  return start;
}

// Frames sent whole and not answered: only these may be answered.
int Awaiting(const Window* w) {
  int unsentWhole = w->batch - static_cast<int>(w->sent / TORMEL_FRAME_SIZE);
  return w->count - unsentWhole;
}

struct Sender {
  TormelRecords* records;
  int32_t handle;
  int limit;              // the window
  char prefix[TORMEL_PREFIX_SIZE];
  bool sending = true;    // false after a refusal, a failure or a stop
  bool moreToRead = true;
  bool refused = false;
  int32_t failure = 0;    // the first failed call's code
};

void Fail(Sender* s, const char* operation, int32_t code) {
  if (s->failure != 0) return;
  s->failure = code;
  s->sending = false;
  TormelLogExchangeFailure(operation, code);
}

// Once the batch before is out, takes as many pending records as the
// window has room for into the next batch.
void Refill(Sender* s, Window* w) {
  if (w->sent < static_cast<size_t>(w->batch) * TORMEL_FRAME_SIZE) return;
  w->batch = 0;
  w->sent = 0;
  char line[TORMEL_LINE_SIZE];
  while (s->sending && s->moreToRead && w->count < s->limit) {
    int length = 0;
    uint64_t lineStart = 0;
    if (!TormelNextRecord(s->records, line, &length, &lineStart)) {
      s->moreToRead = false;
      break;
    }
    TormelBuildFrame(w->out + static_cast<size_t>(w->batch) * TORMEL_FRAME_SIZE, line, static_cast<size_t>(length),
                     s->prefix);
    Push(w, lineStart);
    ++w->batch;
  }
}

// No frame of the batch is begun any more: those not begun stay pending.
// A frame begun is sent whole, or the receiver would be out of step.
void DropUnbegun(Window* w) {
  int begun = static_cast<int>((w->sent + TORMEL_FRAME_SIZE - 1) / TORMEL_FRAME_SIZE);
  w->count -= w->batch - begun;
  w->batch = begun;
}

// Sends what the connection takes of the batch; true on progress.
bool Send(Sender* s, Window* w) {
  size_t total = static_cast<size_t>(w->batch) * TORMEL_FRAME_SIZE;
  if (w->sent >= total) return false;
  int32_t sent = 0;
  int32_t r = CSocketWriteSome(s->handle, w->out + w->sent, static_cast<int32_t>(total - w->sent), &sent);
  if (r != 0) {
    Fail(s, "CSocketWrite", r);
    return false;
  }
  w->sent += static_cast<size_t>(sent);
  return sent > 0;
}

// Takes the answers that have come; true on progress. More bytes than
// frames awaiting them put the receiver out of step.
bool Receive(Sender* s, Window* w) {
  char answers[kMaxWindow + 1];
  int awaiting = Awaiting(w);
  int32_t got = 0;
  int32_t r = CSocketReadSome(s->handle, answers, awaiting + 1, &got);
  if (r != 0) {
    Fail(s, "CSocketRead", r);
    return false;
  }
  for (int i = 0; i < got; ++i) {
    if (i == awaiting) {
      Fail(s, "CSocketRead", SOCKIO_EEXTRA);
      return false;
    }
    uint64_t start = Pop(w);
    if (answers[i] == '1') {
      BufWriteAt(&s->records->file->stream, start, '*');
    } else if (!s->refused) {
      s->refused = true;
      s->sending = false;
      DropUnbegun(w);
    }
  }
  return got > 0;
}

}  // namespace

bool TormelSendWindow(TormelRecords* records, int32_t handle, const TormelConfig* config) {
  Sender s{records, handle, config->window < kMaxWindow ? config->window : kMaxWindow, {}};
  TormelBuildPrefix(s.prefix, config->localIp, config->portText);
  static Window w;  // large: outside the stack
  w = Window{};
  const uint64_t timeoutMs = static_cast<uint64_t>(SockioTimeoutMs(config->timeout));
  uint64_t lastProgress = OsMonotonicMs();
  for (;;) {
    // A file of many records may take longer than the watchdog's period.
    OsServiceKeepAlive(OsMonotonicMs());
    Refill(&s, &w);
    bool progress = Send(&s, &w);
    if (s.failure == 0) progress = Receive(&s, &w) || progress;
    if (s.failure != 0) break;
    bool batchOut = w.sent >= static_cast<size_t>(w.batch) * TORMEL_FRAME_SIZE;
    if (batchOut && w.count == 0 && (!s.sending || !s.moreToRead)) break;
    if (progress) {
      lastProgress = OsMonotonicMs();
      continue;
    }
    uint64_t now = OsMonotonicMs();
    const char* waitingFor = Awaiting(&w) > 0 ? "CSocketRead" : "CSocketWrite";
    if (now - lastProgress >= timeoutMs) {
      Fail(&s, waitingFor, SOCKIO_ETIMEOUT);
      break;
    }
    bool readable = false, writable = false;
    int32_t r = CSocketWaitReady(handle, !batchOut, static_cast<int32_t>(lastProgress + timeoutMs - now), &readable,
                                 &writable);
    if (r == SOCKIO_ESTOPPED) {
      // Unanswered records stay pending for the next run.
      s.failure = r;
      break;
    }
    if (r != 0 && r != SOCKIO_ETIMEOUT) {
      Fail(&s, waitingFor, r);
      break;
    }
  }
  return s.failure == 0 && !s.refused && !s.moreToRead && records->complete;
}
