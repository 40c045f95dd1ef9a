// Access to the parameter file: opened read-only, read one byte at a time and
// repositioned relatively. The whole file is read at open and served from
// memory; the results are those of byte-wise reads and seeks on the file.
#pragma once
#include <cstdint>

// 0 when the file is open, -1 when it cannot be opened or read, is no
// regular file or is larger than PARFILEMAX.
int32_t ParamIoOpen(const char* path);
// 1 and the byte at the current position, which then advances; 0 at the end
// of the file, leaving the position where it is.
int32_t ParamIoReadByte(char* byte);
// Moves the position by delta and returns the new absolute offset, or -1
// (position unchanged) when it would fall before the start of the file.
int64_t ParamIoSeek(int64_t delta);
// 0 when closed, -1 when the system refused to close the file.
int32_t ParamIoClose();
