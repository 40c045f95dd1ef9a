#include "paramparse.h"

#include <cstring>

#include "paramstate.h"
#include "text.h"
#include "paramstore.h"
#include "paramtoken.h"

namespace {

bool ParamTokenIs(const char* text) { return std::strcmp(gParamState.token, text) == 0; }

// Reads a token and returns to where it started; *code is what the read gave.
void ParamPeek(int32_t* code) {
  ParamMark mark = ParamTokenMark();
  *code = ParamTokenRead();
  ParamTokenRollBack(mark);
}

// Skips a section the table does not describe, up to the next "[".
// Read failures other than the end of the file do not stop the skipping.
// Returns PAROK with the "[" still unread, or PAREOF.
int32_t ParamSkipSection() {
  for (;;) {
    ParamMark mark = ParamTokenMark();
    int32_t rc = ParamTokenRead();
    if (rc == PAREOF) return PAREOF;
    if (rc == PAROK && ParamTokenIs("[")) {
      ParamTokenRollBack(mark);
      return PAROK;
    }
  }
}

// The optional "DYNAMIC" after a section header.
int32_t ParamSectionKind() {
  gParamState.dynamic = 0;
  ParamMark mark = ParamTokenMark();
  int32_t rc = ParamTokenRead();
  if (rc == PAROK && ParamTokenIs("DYNAMIC")) {
    gParamState.dynamic = 1;
    gParamState.dynCounter = 1;
    return PAROK;
  }
  ParamTokenRollBack(mark);
  return rc;
}

// The entries of one section, up to the next "[" or the end of the file.
int32_t ParamSectionEntries() {
  for (;;) {
    int32_t rc = ParamTokenRead();
    if (rc != PAROK) return rc;
    TextCopy(gParamState.key, sizeof gParamState.key, gParamState.token);
    ParamEntry* entry = nullptr;
    if (gParamState.dynamic == 0) {
      entry = ParamFindEntry(gParamState.section, gParamState.key);
      if (entry == nullptr) return PARUNKNOWNKEY;
    }
    rc = ParamTokenRead();
    if (rc != PAROK) return rc;
    if (!ParamTokenIs("=")) return PARNOEQUAL;
    rc = ParamTokenRead();
    if (rc != PAROK) return rc;
    if (entry != nullptr) {
      ParamStoreValue(entry, gParamState.token);
    } else {
      rc = ParamStoreItem(gParamState.key, gParamState.token);
      if (rc != PAROK) return rc;
    }
    ParamPeek(&rc);
    // The end of the file here is the normal end, however it came about.
    if (rc == PAREOF) return PAROK;
    if (rc != PAROK) return rc;
    if (ParamTokenIs("[")) return PAROK;
  }
}

}  // namespace

int32_t ParamFileParse() {
  int32_t rc = ParamTokenRead();
  if (rc != PAROK) return rc;
  if (!ParamTokenIs("KEYINI")) return PARNOKEYINI;
  for (;;) {
    rc = ParamTokenRead();
    if (rc != PAROK) return rc;
    if (!ParamTokenIs("[")) return PARNOOPENBR;
    rc = ParamTokenRead();
    if (rc != PAROK) return rc;
    TextCopy(gParamState.section, sizeof gParamState.section, gParamState.token);
    if (ParamFindEntry(gParamState.section, nullptr) == nullptr) {
      // Not described: skipped, its "]" with the rest of it.
      if (ParamSkipSection() == PAREOF) return PAROK;
      continue;
    }
    rc = ParamTokenRead();
    if (rc != PAROK) return rc;
    if (!ParamTokenIs("]")) return PARNOCLOSEBR;
    rc = ParamSectionKind();
    if (rc != PAROK) return rc;
    rc = ParamSectionEntries();
    if (rc != PAROK) return rc;
    ParamPeek(&rc);
    if (rc == PAREOF) return PAROK;
    if (rc != PAROK) return rc;
  }
}
