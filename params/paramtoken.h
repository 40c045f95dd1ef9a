// The tokenizer: reads the parameter file byte by byte into the state's token
// buffer, skipping whitespace and comments, and lets the parser peek ahead.
#pragma once
#include <cstdint>

// Reads the next token into gParamState.token; 0 or PAREOF / PARTOKLONG.
int32_t ParamTokenRead();

// A position to return to after a peek: line number and file offset.
struct ParamMark {
  int32_t line;
  int64_t offset;
};

ParamMark ParamTokenMark();
// Seeks back to the mark, so that everything read since is read again.
void ParamTokenRollBack(ParamMark mark);
