// The line protocol as the loop reads it: the pending records of a file one
// after another, whether a last line is ready to send, the receiver column,
// and what lies behind a CTRL-Z.
#include "buffile.h"

namespace {

// Lines passed over in one call before the caller gets its turn again: a
// long run of delivered lines must not hold up the loop.
constexpr int kLinesAtOnce = 4096;

}  // namespace

bool BufLineReady(BufFolder* folder, BufFile* f, const char* line, int length) {
  BufStream* s = &f->stream;
  // A line end, more after it (a piece of a long line) or a CTRL-Z that
  // ends the text: the line is complete as it stands.
  if (line[length - 1] == '\n') return true;
  if (BufEof(s) ? BufAtMark(s) : !BufAtEnd(s)) return true;
  return BufTailReady(folder, f, BufTell(s));
}

BufPending BufNextPending(BufCursor* c, char* line, int* length, uint64_t* lineStart) {
  BufStream* s = &c->file->stream;
  for (int passed = 0; passed < kLinesAtOnce; ++passed) {
    if (BufEof(s)) return BufPending::End;
    *lineStart = BufTell(s);
    int n = BufGets(s, line, TORMEL_LINE_SIZE);
    if (n == 0) {
      if (BufError(s) == 0) return BufPending::End;
      c->complete = false;
      return BufPending::Failed;
    }
    if (line[0] != TORMEL_MARK_PENDING) continue;
    if (!BufLineReady(c->folder, c->file, line, n)) {
      // Its producer may still be writing it: sent once it is complete, or
      // quiet for long enough. The loop has seen the file up to here, so
      // only what the producer adds from now on wakes it.
      c->file->handledUpTo = BufTell(s);
      BufSeek(s, *lineStart);
      c->complete = false;
      return BufPending::Unfinished;
    }
    *length = n;
    return BufPending::Found;
  }
  return BufPending::Later;
}

int BufReadReceiverField(BufStream* s, char field[TORMEL_ADDRESS_WIDTH + 1], int* length) {
  BufSeek(s, TORMEL_ADDRESS_COLUMN);
  *length = BufGets(s, field, TORMEL_ADDRESS_WIDTH + 1);
  int rc = *length == 0 ? BufError(s) : 0;
  BufSeek(s, 0);
  return rc;
}

uint64_t BufBytesBehindMark(BufStream* s) {
  uint64_t size = 0;
  if (!BufAtMark(s) || OsFileSize(s->file, &size) != 0 || size <= BufTell(s)) return 0;
  return size - BufTell(s) - 1;  // the CTRL-Z itself not counted
}
