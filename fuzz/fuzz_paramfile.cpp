// Arbitrary bytes as a parameter file: read and checked into a table holding
// every type and a dynamic section, then released. Besides the sanitizers it
// checks that no fixed-size field was left unterminated.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "param_entry.h"
#include "paramfile.h"

namespace {

std::string gPath;
int gFd = -1;

void RemoveTempFile() {
  if (!gPath.empty()) unlink(gPath.c_str());
}

// One temp file for the whole run, rewritten for every input.
bool WriteInput(const uint8_t* data, size_t size) {
  if (gFd < 0) {
    const char* dir = std::getenv("TMPDIR");
    std::string templ = std::string(dir != nullptr ? dir : "/tmp") + "/fuzz_paramfile_XXXXXX";
    gFd = mkstemp(templ.data());
    if (gFd < 0) return false;
    gPath = templ;
    std::atexit(RemoveTempFile);
  }
  if (ftruncate(gFd, 0) != 0) return false;
  size_t done = 0;
  while (done < size) {
    ssize_t n = pwrite(gFd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

const std::string kLongDefault(150, 'L');

void CheckTerminated(const char* field) {
  if (strnlen(field, PARTEXTMAX + 1) > PARTEXTMAX) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!WriteInput(data, size)) return 0;
  ParamEntry table[] = {
      MakeEntry("S", "STR", TYPSTRING, 0, 100, 1, 1, kLongDefault.c_str()),
      MakeEntry("S", "CH", TYPCHAR, 0, 0, 1, 1, "c"),
      MakeEntry("S", "FLAG", TYPBOOL, 0, 0, 1, 1, "TRUE"),
      MakeEntry("S", "NUM", TYPINT, 0, 1000, 1, 1, " -42"),
      MakeEntry("S", "BIG", TYPLONG, 0, 4e9, 1, 1, "99999999999999"),
      MakeEntry("S", "REAL", TYPDOUBLE, 0, 1e300, 1, 1, "1e999"),
      MakeEntry("S", "ODD", -7, 0, 0, 1, 1, "odd"),
      MakeEntry("D", "ANY", TYPDYN, 0, 0, 1, 1, "dyn"),
      MakeEntry("T", "X", TYPSTRING, 2, 3, 1, 1, "xx"),
      MakeEntry("T", "Y", TYPDYN, 0, 0, 1, 1, "y"),
      MakeEntry("M", "MUST", TYPINT, 0, 10, 0, 0, nullptr),
  };
  const int32_t count = static_cast<int32_t>(sizeof table / sizeof table[0]);
  int32_t code = 1, where = -1;
  int32_t result = ParamFileRead(gPath.c_str(), PARREAD | PARCHECK, table, count, &code, &where);
  if (result == 1 && code != PAROK) __builtin_trap();
  if (result == 0 && code == PAROK) __builtin_trap();
  for (const ParamEntry& e : table) {
    CheckTerminated(e.content);
    if (e.type == TYPSTRING) CheckTerminated(e.value.text);
  }
  const ParamEntry& dyn = table[7];
  int32_t items = ParamDynItemCount();
  if (dyn.value.items != nullptr && items > 0) {
    // Touch the last item so that the sanitizer checks the array's length.
    volatile char last = dyn.value.items[(items - 1) * PARDYNITEMSIZE + PARDYNITEMSIZE - 1];
    (void)last;
  }
  ParamFileRead(nullptr, PARFREE, table, count, &code, &where);
  return 0;
}
