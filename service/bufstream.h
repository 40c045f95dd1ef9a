// The buffer file stream: a buffer file opened for update and read line by
// line with text-mode semantics, the same code on every system.
//
// - CR LF arrives as one LF; a lone CR stays as it is.
// - Every position is a byte offset in the file, the CR of a CR LF counted.
// - A CTRL-Z (0x1A) that is the very last byte is replaced by a line end in
//   the file at open, under the producers' lock (left for a later open when
//   somebody else holds the lock), so that it no longer ends the text before
//   records appended after it; a CTRL-Z anywhere else ends the readable text
//   there.
// - Reads are buffered; BufWriteAt goes straight to the file in one
//   positioned write, so a mark is on disk before the next record leaves.
#pragma once
#include <cstddef>
#include <cstdint>

#include "buflayout.h"
#include "os_file.h"

constexpr size_t BUF_READ_CHUNK = 8192;  // bytes fetched from the file at a time

struct BufStream {
  OsFile file;
  uint64_t pos = 0;        // offset of the next byte to deliver
  uint64_t chunkStart = 0; // file offset of chunk[0]
  size_t chunkLen = 0;     // valid bytes in chunk
  bool eof = false;        // a read met the end of the readable text
  bool mark = false;       // ... and that end was a CTRL-Z, at pos
  int error = 0;           // error number of a failed read, 0 if none
  char chunk[BUF_READ_CHUNK];
};

// Opens an existing buffer file for reading and updating, shared with other
// readers and writers. Returns 0, or an error number when the file is absent,
// read-only (no write permission bit) or cannot be opened.
// *info (when given) tells what the open found of the file.
int BufOpen(BufStream* s, const char* path, OsFileInfo* info = nullptr);
// Opens a buffer file for reading only, changing nothing.
int BufOpenReadOnly(BufStream* s, const char* path);

uint64_t BufTell(const BufStream* s);
// Moves to an absolute byte offset and clears the end-of-file indicator.
void BufSeek(BufStream* s, uint64_t offset);

// Reads one line as fgets does: at most size - 1 characters, up to and
// including an LF, zero-terminated. Returns the number of characters stored;
// 0 means nothing could be read (end of text, or a read error: BufError).
int BufGets(BufStream* s, char* line, int size);

bool BufEof(const BufStream* s);
// True when the end of the text that a read met was a CTRL-Z.
bool BufAtMark(const BufStream* s);
// True when no byte follows the current position (a CTRL-Z is a byte).
bool BufAtEnd(BufStream* s);
int BufError(const BufStream* s);

// A CTRL-Z that is the last byte of the file becomes a line end: the text
// it closed stays whole, and what is appended after it is read. The byte is
// overwritten in place, so nothing appended meanwhile is cut.
int BufReplaceClosingMark(OsFile f);

// Writes one byte at an offset, straight to the file.
int BufWriteAt(BufStream* s, uint64_t offset, char c);

// Closes the file; the stream may be opened again afterwards.
int BufClose(BufStream* s);
