// The parser: follows the file grammar with one-token look-ahead and fills
// the table held in the reader state.
#pragma once
#include <cstdint>

// Entered with the file open and the state reset; returns 0 or a negative
// result code. The state's line number then tells where parsing stopped.
int32_t ParamFileParse();
