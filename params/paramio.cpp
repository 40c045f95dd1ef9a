#include "paramio.h"

#include <cstdlib>

#include "os_file.h"
#include "paramstate.h"

namespace {

void ParamIoRelease() {
  std::free(gParamState.file.bytes);
  gParamState.file.bytes = nullptr;
  gParamState.file.size = 0;
  gParamState.file.position = 0;
}

// Reads the rest of the file into one heap block; false on a read error,
// when memory runs out, or when the file turns out larger than PARFILEMAX
// (it may grow while it is read).
bool ParamIoSlurp(OsFile f) {
  uint64_t size = 0;
  if (OsFileSize(f, &size) != 0 || size > static_cast<uint64_t>(PARFILEMAX)) return false;
  size_t capacity = 0;
  for (;;) {
    if (gParamState.file.size > static_cast<size_t>(PARFILEMAX)) return false;
    if (gParamState.file.size == capacity) {
      // One byte beyond the limit shows a file that grew past it.
      size_t grown = capacity == 0 ? 4096 : capacity * 2;
      if (grown > static_cast<size_t>(PARFILEMAX) + 1) grown = static_cast<size_t>(PARFILEMAX) + 1;
      char* bigger = static_cast<char*>(std::realloc(gParamState.file.bytes, grown));
      if (bigger == nullptr) return false;
      gParamState.file.bytes = bigger;
      capacity = grown;
    }
    size_t got = 0;
    if (OsFileReadAt(f, gParamState.file.size, gParamState.file.bytes + gParamState.file.size,
                     capacity - gParamState.file.size, &got) != 0) {
      return false;
    }
    if (got == 0) return true;
    gParamState.file.size += got;
  }
}

}  // namespace

int32_t ParamIoOpen(const char* path) {
  ParamIoRelease();
  OsFile f;
  if (OsFileOpenReadRegular(path, &f) != 0) return -1;
  if (!ParamIoSlurp(f)) {
    OsFileClose(&f);
    ParamIoRelease();
    return -1;
  }
  gParamState.file.handle = f.handle;
  return 0;
}

int32_t ParamIoReadByte(char* byte) {
  if (gParamState.file.bytes == nullptr || gParamState.file.position < 0 ||
      static_cast<uint64_t>(gParamState.file.position) >= gParamState.file.size) {
    return 0;
  }
  *byte = gParamState.file.bytes[gParamState.file.position++];
  return 1;
}

int64_t ParamIoSeek(int64_t delta) {
  if (delta < -gParamState.file.position) return -1;
  gParamState.file.position += delta;
  return gParamState.file.position;
}

int32_t ParamIoClose() {
  OsFile f{gParamState.file.handle};
  gParamState.file.handle = -1;
  ParamIoRelease();
  return f.handle != -1 && OsFileClose(&f) == 0 ? 0 : -1;
}
