#include <cstdlib>

#include "paramcheck.h"
#include "paramfile.h"
#include "paramio.h"
#include "paramlist.h"
#include "paramparse.h"
#include "paramstate.h"

namespace {

// The caller may pass null for either result.
void Set(int32_t* result, int32_t value) {
  if (result != nullptr) *result = value;
}

void ParamResetState(ParamEntry* table, int32_t count) {
  gParamState.table = table;
  gParamState.count = table != nullptr && count > 0 ? count : 0;
  gParamState.line = 1;
  gParamState.offset = 0;
  gParamState.token[0] = '\0';
  gParamState.section[0] = '\0';
  gParamState.key[0] = '\0';
  gParamState.dynamic = 0;
}

// 0, or the code of the failure with *where set to the line it stopped at.
int32_t ParamReadFile(const char* path, int32_t* where) {
  if (path == nullptr) return PARNOPATH;
  if (ParamIoOpen(path) != 0) return PARNOOPEN;
  // The item count belongs to this file from now on.
  gParamState.dynCounter = 0;
  int32_t rc = ParamFileParse();
  *where = gParamState.line;
  // The parser's failure comes before the close's.
  if (ParamIoClose() != 0 && rc == PAROK) return PARNOCLOSE;
  return rc;
}

// The caller may read the table again after this, so the array pointer is
// cleared rather than left dangling.
void ParamFreeItems(ParamEntry* table, int32_t count) {
  for (int32_t i = 0; i < count; i++) {
    if (table[i].type != TYPDYN) continue;
    std::free(table[i].value.items);
    table[i].value.items = nullptr;
  }
}

}  // namespace

int32_t ParamFileRead(const char* path, int32_t modes, ParamEntry* table, int32_t count,
                      int32_t* errorCode, int32_t* errorWhere) {
  ParamResetState(table, count);
  count = gParamState.count;
  int32_t rc = PAROK, where = 0;
  if ((modes & (PARREAD | PARCHECK | PARLIST | PARFREE)) == 0) rc = PARNOMODE;
  if (rc == PAROK && (modes & PARREAD) != 0) rc = ParamReadFile(path, &where);
  if (rc == PAROK && (modes & PARCHECK) != 0) rc = ParamCheckTable(table, count, &where);
  if (rc != PAROK) {
    Set(errorCode, rc);
    // The parser's and the check's failures tell where they stopped.
    if (rc != PARNOMODE && rc != PARNOPATH && rc != PARNOOPEN && rc != PARNOCLOSE) Set(errorWhere, where);
    return 0;
  }
  if ((modes & PARLIST) != 0) ParamListTable(table, count);
  if ((modes & PARFREE) != 0) ParamFreeItems(table, count);
  if ((modes & (PARREAD | PARCHECK)) != 0) Set(errorCode, PAROK);
  return 1;
}

int32_t ParamDynItemCount() {
  return gParamState.dynCounter > 1 ? gParamState.dynCounter - 1 : 0;
}
