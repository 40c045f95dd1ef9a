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

#include "os_time.h"
#include "records.h"
#include "sockio.h"
#include "timeout.h"

namespace {

constexpr int kMaxWindow = 256;

struct Window {
  uint64_t starts[kMaxWindow];  // line offsets of the frames sent, oldest first
  int oldest = 0;
  int count = 0;                // frames sent whole, awaiting their answer
  char frame[TORMEL_FRAME_SIZE + 1];
  uint64_t frameStart = 0;      // line offset of the frame being sent
  int frameSent = -1;           // bytes of it sent so far; -1: none being sent
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

// Takes the next pending record into the frame to send, when the window
// has room.
void Refill(Sender* s, Window* w) {
  if (!s->sending || !s->moreToRead || w->frameSent >= 0 || w->count >= s->limit) return;
  char line[TORMEL_LINE_SIZE];
  int length = 0;
  if (!TormelNextRecord(s->records, line, &length, &w->frameStart)) {
    s->moreToRead = false;
    return;
  }
  TormelBuildFrame(w->frame, line, static_cast<size_t>(length), s->prefix);
  w->frameSent = 0;
}

// Sends what the connection takes of the frame in hand; true on progress.
bool Send(Sender* s, Window* w) {
  if (w->frameSent < 0) return false;
  int32_t sent = 0;
  int32_t r = CSocketWriteSome(s->handle, w->frame + w->frameSent, TORMEL_FRAME_SIZE - w->frameSent, &sent);
  if (r != 0) {
    Fail(s, "CSocketWrite", r);
    w->frameSent = -1;
    return false;
  }
  w->frameSent += sent;
  if (w->frameSent == TORMEL_FRAME_SIZE) {
    Push(w, w->frameStart);
    w->frameSent = -1;
  }
  return sent > 0;
}

// Takes the answers that have come; true on progress. More bytes than
// frames awaiting them put the receiver out of step.
bool Receive(Sender* s, Window* w) {
  char answers[kMaxWindow + 1];
  int32_t got = 0;
  int32_t r = CSocketReadSome(s->handle, answers, w->count + 1, &got);
  if (r != 0) {
    Fail(s, "CSocketRead", r);
    return false;
  }
  for (int i = 0; i < got; ++i) {
    if (w->count == 0) {
      Fail(s, "CSocketRead", SOCKIO_EEXTRA);
      return false;
    }
    uint64_t start = Pop(w);
    if (answers[i] == '1') {
      BufWriteAt(&s->records->file->stream, start, '*');
    } else {
      s->refused = true;
      s->sending = false;
    }
  }
  return got > 0;
}

}  // namespace

bool TormelSendWindow(TormelRecords* records, int32_t handle, const TormelConfig* config) {
  Sender s{records, handle, config->window < kMaxWindow ? config->window : kMaxWindow, {}};
  TormelBuildPrefix(s.prefix, config->localIp, config->portText);
  Window w;
  const uint64_t timeoutMs = static_cast<uint64_t>(SockioTimeoutMs(config->timeout));
  uint64_t lastProgress = OsMonotonicMs();
  for (;;) {
    Refill(&s, &w);
    // A frame begun is sent whole whatever happens meanwhile: half a frame
    // would put the receiver out of step.
    bool progress = Send(&s, &w);
    if (s.failure == 0) progress = Receive(&s, &w) || progress;
    if (s.failure != 0) break;
    if (w.frameSent < 0 && w.count == 0 && (!s.sending || !s.moreToRead)) break;
    if (progress) {
      lastProgress = OsMonotonicMs();
      continue;
    }
    uint64_t now = OsMonotonicMs();
    if (now - lastProgress >= timeoutMs) {
      Fail(&s, w.count > 0 ? "CSocketRead" : "CSocketWrite", SOCKIO_ETIMEOUT);
      break;
    }
    bool readable = false, writable = false;
    int32_t r = CSocketWaitReady(handle, w.frameSent >= 0, static_cast<int32_t>(lastProgress + timeoutMs - now),
                                 &readable, &writable);
    if (r == SOCKIO_ESTOPPED) {
      // Unanswered records stay pending for the next run.
      s.failure = r;
      break;
    }
    if (r != 0 && r != SOCKIO_ETIMEOUT) {
      Fail(&s, w.count > 0 ? "CSocketRead" : "CSocketWrite", r);
      break;
    }
  }
  return s.failure == 0 && !s.refused && !s.moreToRead && records->complete;
}
