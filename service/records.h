// Between the files of the forwarding loop only: the pending records of the
// file in hand, read one after another.
#pragma once
#include <cstdint>

#include "buffile.h"
#include "tormel.h"

// Where the reading of one file stands.
struct TormelRecords {
  BufFolder* folder;
  BufFile* file;
  uint64_t lastStopCheck;  // when the stop event was last looked at
  bool complete = true;    // false once reading stopped before the end of the text
};

// The next pending record ("$" line, or piece of a long line): its text,
// length and offset. False at the end of the text, and also, with complete
// cleared, when a stop was requested, a read failed (logged) or the last
// line may still be in the writing.
bool TormelNextRecord(TormelRecords* r, char* line, int* length, uint64_t* lineStart);

// True for a line that has no line end and nothing after it.
bool TormelUnterminated(BufStream* s, const char* line, int length);

// Logs a failed exchange as SndWithReply() and the loop do, once each; a
// call cut short by a stop request is no failure and logs nothing.
void TormelLogExchangeFailure(const char* operation, int32_t code);
