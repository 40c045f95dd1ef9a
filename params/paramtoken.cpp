#include "paramtoken.h"

#include "paramio.h"
#include "paramstate.h"
#include "text.h"

namespace {

bool ParamIsDelimiter(char c) { return c == '=' || c == '[' || c == ']'; }

// Every LF counts a line, wherever it stands, so that line numbers agree with
// what an editor shows even inside comments and token terminators.
bool ParamNextByte(char* c) {
  if (ParamIoReadByte(c) != 1) return false;
  gParamState.offset++;
  if (*c == '\n') gParamState.line++;
  return true;
}

// Reads one token without looking at comments. *ender is the whitespace byte
// that ended the token and was consumed, or 0 when none was.
int32_t ParamTokenReadRaw(char* ender) {
  char* token = gParamState.token;
  int32_t length = 0;
  char c;
  *ender = 0;
  token[0] = '\0';
  do {
    if (!ParamNextByte(&c)) return PAREOF;
  } while (TextIsSpace(c));
  token[length++] = c;
  token[length] = '\0';
  if (ParamIsDelimiter(c)) return PAROK;
  for (;;) {
    if (!ParamNextByte(&c)) return PAREOF;
    if (length > PARTEXTMAX) return PARTOKLONG;
    if (TextIsSpace(c)) {
      *ender = c;
      return PAROK;
    }
    if (ParamIsDelimiter(c)) {
      // The delimiter is a token of its own: leave it to the next read.
      gParamState.offset = ParamIoSeek(-1);
      return PAROK;
    }
    token[length++] = c;
    token[length] = '\0';
  }
}

// Skips up to and including the closing pair first-second. prev is the byte
// read just before, so that a CR that ended a "//" token pairs with its LF.
int32_t ParamSkipUntil(char prev, char first, char second) {
  char c;
  for (;;) {
    if (!ParamNextByte(&c)) return PAREOF;
    if (prev == first && c == second) return PAROK;
    prev = c;
  }
}

}  // namespace

int32_t ParamTokenRead() {
  for (;;) {
    char ender;
    int32_t rc = ParamTokenReadRaw(&ender);
    if (rc != PAROK) return rc;
    const char* token = gParamState.token;
    if (token[0] != '/' || (token[1] != '*' && token[1] != '/')) return PAROK;
    rc = token[1] == '*' ? ParamSkipUntil(ender, '*', '/') : ParamSkipUntil(ender, '\r', '\n');
    if (rc != PAROK) return rc;
  }
}

ParamMark ParamTokenMark() { return ParamMark{gParamState.line, gParamState.offset}; }

void ParamTokenRollBack(ParamMark mark) {
  gParamState.offset = ParamIoSeek(mark.offset - gParamState.offset);
  gParamState.line = mark.line;
}
