// The buffer file stream on top of positioned file access. Nothing but the
// read chunk is cached: every read past the chunk goes to the file again, so
// records a producer appends meanwhile are seen, and every mark is written
// through at once.
#include "bufstream.h"

namespace {

// Reads the chunk that begins at offset. 1 when it holds a byte, 0 at the
// end of the file, -1 on a read error (recorded in the stream).
int ReadChunk(BufStream* s, uint64_t offset) {
  size_t got = 0;
  int rc = OsFileReadAt(s->file, offset, s->chunk, BUF_READ_CHUNK, &got);
  if (rc != 0) {
    s->chunkStart = offset;
    s->chunkLen = 0;
    s->error = rc;
    return -1;
  }
  // Nothing more right behind the chunk: it stays, for a reader that goes
  // back into it.
  if (got == 0 && offset == s->chunkStart + s->chunkLen) return 0;
  s->chunkStart = offset;
  s->chunkLen = got;
  return got > 0 ? 1 : 0;
}

bool Cached(const BufStream* s, uint64_t offset) {
  return offset >= s->chunkStart && offset - s->chunkStart < s->chunkLen;
}

// Makes the byte at offset available in the chunk; results as ReadChunk.
int Fetch(BufStream* s, uint64_t offset) { return Cached(s, offset) ? 1 : ReadChunk(s, offset); }

void Reset(BufStream* s) {
  s->pos = 0;
  s->chunkStart = 0;
  s->chunkLen = 0;
  s->eof = false;
  s->mark = false;
  s->error = 0;
}

// The last byte of a file of size bytes, read with the first chunk where
// that holds it; 0 for an empty file or one that cannot be read.
char LastByte(BufStream* s, uint64_t size) {
  if (size == 0) return 0;
  if (size <= BUF_READ_CHUNK && ReadChunk(s, 0) > 0 && s->chunkLen == size) return s->chunk[size - 1];
  char last = 0;
  size_t got = 0;
  return OsFileReadAt(s->file, size - 1, &last, 1, &got) == 0 && got == 1 ? last : 0;
}

// Under the producers' lock: it keeps out producers that append only to the
// file they hold locked. Most files end in a line end and need no lock.
void ReplaceClosingMarkLocked(BufStream* s, uint64_t size) {
  if (LastByte(s, size) != TORMEL_CTRL_Z || OsFileTryLock(s->file) != 0) return;  // a held lock: left for a later open
  BufReplaceClosingMark(s->file);
  OsFileUnlock(s->file);
  s->chunkLen = 0;  // read again as it now stands
}

}  // namespace

int BufOpen(BufStream* s, const char* path, OsFileInfo* info) {
  Reset(s);
  OsFile f;
  OsFileInfo seen;
  int rc = OsFileOpenUpdate(path, &f, &seen);
  if (rc != 0) return rc;
  s->file = f;
  if (info != nullptr) *info = seen;
  // A mark that cannot be replaced now ends the text where it stands, and
  // a read that fails here fails again where the reader reports it.
  ReplaceClosingMarkLocked(s, seen.size);
  s->error = 0;
  return 0;
}

int BufOpenReadOnly(BufStream* s, const char* path) {
  Reset(s);
  return OsFileOpenReadNoFollow(path, &s->file);
}

uint64_t BufTell(const BufStream* s) { return s->pos; }

void BufSeek(BufStream* s, uint64_t offset) {
  s->pos = offset;
  s->eof = false;
  s->mark = false;
}

int BufGets(BufStream* s, char* line, int size) {
  s->error = 0;
  if (line == nullptr || size <= 0) return 0;
  const uint64_t start = s->pos;
  int n = 0;
  while (n < size - 1) {
    int r = Fetch(s, s->pos);
    if (r == 0) {
      s->eof = true;
      break;
    }
    if (r < 0) break;
    char c = s->chunk[s->pos - s->chunkStart];
    if (c == TORMEL_CTRL_Z) {
      s->eof = true;
      s->mark = true;
      break;
    }
    uint64_t step = 1;
    if (c == '\r') {
      // The LF of a CR LF may lie beyond the chunk: fetch again from the CR
      // so that both are in view.
      if (!Cached(s, s->pos + 1)) {
        r = ReadChunk(s, s->pos);
        if (r < 0) break;
        if (r == 0) {  // cut short meanwhile
          s->eof = true;
          break;
        }
      }
      if (Cached(s, s->pos + 1) && s->chunk[s->pos + 1 - s->chunkStart] == '\n') {
        c = '\n';
        step = 2;
      }
    }
    line[n++] = c;
    s->pos += step;
    if (c == '\n') break;
  }
  if (s->error != 0) {
    // As with fgets, a read error yields nothing; the line is read again
    // whole by the next attempt.
    s->pos = start;
    line[0] = '\0';
    return 0;
  }
  line[n] = '\0';
  return n;
}

int BufReplaceClosingMark(OsFile f) {
  uint64_t size = 0;
  int rc = OsFileSize(f, &size);
  if (rc != 0 || size == 0) return rc;
  char last = 0;
  size_t got = 0;
  rc = OsFileReadAt(f, size - 1, &last, 1, &got);
  if (rc != 0 || got != 1 || last != TORMEL_CTRL_Z) return rc;
  // Overwritten in place, never cut off: a producer that appends without
  // the lock at this moment must not lose the first bytes of its record.
  return OsFileWriteAt(f, size - 1, "\n", 1);
}

bool BufEof(const BufStream* s) { return s->eof; }

bool BufAtMark(const BufStream* s) { return s->mark; }

bool BufAtEnd(BufStream* s) { return Fetch(s, s->pos) == 0; }

int BufError(const BufStream* s) { return s->error; }

int BufWriteAt(BufStream* s, uint64_t offset, char c) {
  int rc = OsFileWriteAt(s->file, offset, &c, 1);
  if (rc == 0 && Cached(s, offset)) s->chunk[offset - s->chunkStart] = c;
  return rc;
}

int BufClose(BufStream* s) {
  int rc = OsFileClose(&s->file);
  Reset(s);
  return rc;
}
