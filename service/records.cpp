// Reading the pending records of the file in hand.
#include <cstdio>

#include "os_error.h"
#include "os_stop.h"
#include "os_time.h"
#include "records.h"
#include "sockio.h"

namespace {

constexpr uint64_t kStopCheckMs = 100;

// A stop request ends a long file early; its unsent records wait for the
// next run. A signal is seen at once, the event within kStopCheckMs.
bool StopRequested(uint64_t* lastCheck) {
  if (OsStopRequested()) return true;
  uint64_t now = OsMonotonicMs();
  if (now - *lastCheck < kStopCheckMs) return false;
  *lastCheck = now;
  return OsEventIsSet(TormelStopEvent) == 0;
}

void LogLineReadError(int err) {
  char detail[80];
  OsErrorText(err, detail, sizeof detail);
  CLogWrite(TORMEL_LOG_SOURCE, "TormelWork()", 1, 0, err, "Fehler: Satz aus Xfr-Bufferdatei lesen (fgets)!", detail);
}

}  // namespace

// A piece of a long line is complete when more follows, and text that a
// CTRL-Z ends is complete where it ends.
bool TormelUnterminated(BufStream* s, const char* line, int length) {
  if (line[length - 1] == '\n') return false;
  return BufEof(s) ? !BufAtMark(s) : BufAtEnd(s);
}

bool TormelNextRecord(TormelRecords* r, char* line, int* length, uint64_t* lineStart) {
  BufStream* s = &r->file->stream;
  while (!BufEof(s)) {
    // Asked on every line: a long run of lines that are not pending must
    // not hold up a stop either.
    if (StopRequested(&r->lastStopCheck)) {
      r->complete = false;
      return false;
    }
    *lineStart = BufTell(s);
    int n = BufGets(s, line, TORMEL_LINE_SIZE);
    if (n == 0) {
      if (BufError(s) != 0) {
        LogLineReadError(BufError(s));
        r->complete = false;
      }
      return false;
    }
    if (line[0] != '$') continue;
    if (TormelUnterminated(s, line, n) && !BufTailReady(r->folder, r->file, BufTell(s))) {
      // Its producer may still be writing it: sent once it is complete, or
      // quiet for long enough. The loop has seen the file up to here, so
      // only what the producer adds from now on wakes it.
      r->file->handledUpTo = BufTell(s);
      BufSeek(s, *lineStart);
      r->complete = false;
      return false;
    }
    *length = n;
    return true;
  }
  return false;
}

void TormelLogExchangeFailure(const char* operation, int32_t code) {
  if (code == SOCKIO_ESTOPPED) return;
  char message[TORMEL_MESSAGE_SIZE];
  snprintf(message, sizeof message, "Fehler: %s! ErrorCode: %ld", operation, static_cast<long>(code));
  CLogWrite(TORMEL_LOG_SOURCE, "SndWithReply()", 1, code, 0, message, "");
  snprintf(message, sizeof message, "Fehler: SndWithReply! ErrorCode: %ld", static_cast<long>(code));
  CLogWrite(TORMEL_LOG_SOURCE, "TormelWork()", 1, code, 0, message, "");
}
