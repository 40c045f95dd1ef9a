// The reader's module-wide state: one reader at a time, not re-entrant.
#pragma once
#include <cstddef>
#include <cstdint>

#include "paramfile.h"

struct ParamFileData {
  intptr_t handle;  // the open file (OsFile handle), -1 when closed
  char* bytes;      // the whole file, read at open
  size_t size;
  int64_t position;  // the file position that reads and seeks move
};

struct ParamState {
  ParamEntry* table;
  int32_t count;
  ParamFileData file;
  int32_t line;    // current line, from 1
  int64_t offset;  // bytes consumed: the current file position
  // One more than the longest token, so that the 101st character that makes
  // a token too long still has room beside its terminator.
  char token[PARTEXTMAX + 2];
  char section[PARTEXTMAX + 1];
  char key[PARTEXTMAX + 1];
  int32_t dynamic;    // the current section is DYNAMIC
  int32_t dynCounter; // position + 1 of the next item of a dynamic section
};

extern ParamState gParamState;
