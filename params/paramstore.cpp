#include "paramstore.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "paramstate.h"
#include "text.h"

namespace {

bool ParamSame(const char* a, const char* b) {
  return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

// Digits and "." only; the conversion stops at a second ".". Independent of
// the locale, so that a host program's setlocale cannot change the meaning.
bool ParamDigitsToDouble(const char* text, double* out) {
  size_t n = 0;
  for (; text[n] != '\0'; n++) {
    if ((text[n] < '0' || text[n] > '9') && text[n] != '.') return false;
  }
  double v = 0.0;
  std::from_chars(text, text + n, v, std::chars_format::fixed);
  *out = v;
  return true;
}

bool ParamWithin(const ParamEntry* e, double v) { return e->minValue <= v && v <= e->maxValue; }

}  // namespace

ParamEntry* ParamFindEntry(const char* section, const char* key) {
  for (int32_t i = 0; i < gParamState.count; i++) {
    ParamEntry* e = &gParamState.table[i];
    if (ParamSame(e->groupToken, section) && (key == nullptr || ParamSame(e->paramToken, key))) return e;
  }
  return nullptr;
}

void ParamStoreValue(ParamEntry* e, const char* text) {
  TextCopy(e->content, sizeof e->content, text);
  e->found = 1;
  size_t length = std::strlen(e->content);
  switch (e->type) {
    case TYPSTRING:
      if (!ParamWithin(e, static_cast<double>(length))) return;
      TextCopy(e->value.text, sizeof e->value.text, e->content);
      break;
    case TYPCHAR:
      if (length != 1) return;
      e->value.ch = e->content[0];
      break;
    case TYPBOOL:
      if (std::strcmp(e->content, "TRUE") != 0 && std::strcmp(e->content, "FALSE") != 0) return;
      e->value.number = std::strcmp(e->content, "TRUE") == 0 ? 1 : 0;
      break;
    case TYPINT:
    case TYPLONG: {
      // Digits only, and within 32 bits: a value that would wrap is refused.
      uint64_t v;
      if (TextReadDigits(e->content, &v) != std::strlen(e->content) || v > static_cast<uint64_t>(INT32_MAX) ||
          !ParamWithin(e, static_cast<int32_t>(v)))
        return;
      e->value.number = static_cast<int32_t>(v);
      break;
    }
    case TYPDOUBLE: {
      double v;
      if (!ParamDigitsToDouble(e->content, &v) || !ParamWithin(e, v)) return;
      e->value.real = v;
      break;
    }
    default:
      return;
  }
  e->valid = 1;
}

int32_t ParamStoreItem(const char* key, const char* text) {
  ParamEntry* e = ParamFindEntry(gParamState.section, nullptr);
  if (e == nullptr || e->type != TYPDYN) return PARNOTDYN;
  e->found = 1;
  e->valid = 1;

  char item[PARDYNITEMSIZE] = {};
  std::memcpy(item, key, strnlen(key, PARTEXTMAX));
  std::memcpy(item + PARDYNVALUEOFFSET, text, strnlen(text, PARTEXTMAX));

  if (gParamState.dynCounter == 1) e->defaultValue = nullptr;
  // A second section for the same entry starts again at the front and cuts
  // the array to its own length; a failed resize leaves no items behind.
  const size_t bytes = static_cast<size_t>(gParamState.dynCounter) * PARDYNITEMSIZE;
  char* items = gParamState.dynCounter < INT32_MAX ? static_cast<char*>(std::realloc(e->value.items, bytes)) : nullptr;
  if (items == nullptr) {
    std::free(e->value.items);
    e->value.items = nullptr;
    return PARNOMEM;
  }
  e->value.items = items;
  std::memcpy(items + static_cast<size_t>(gParamState.dynCounter - 1) * PARDYNITEMSIZE, item,
              PARDYNITEMSIZE);
  gParamState.dynCounter++;
  return PAROK;
}
