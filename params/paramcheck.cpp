#include "paramcheck.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "paramstate.h"
#include "text.h"

namespace {

// Skips leading white space and one sign; *negative tells which.
const char* ParamSkipToNumber(const char* p, bool* negative) {
  while (TextIsSpace(*p)) p++;
  *negative = false;
  if (*p == '+' || *p == '-') *negative = *p++ == '-';
  return p;
}

// The leading decimal integer of a default; 0 without digits. A value beyond
// 32 bits is held at the nearest limit rather than wrapped.
int32_t ParamDefaultInt(const char* text) {
  bool negative;
  uint64_t v;
  TextReadDigits(ParamSkipToNumber(text, &negative), &v);
  if (negative) return v > static_cast<uint64_t>(INT32_MAX) ? INT32_MIN : -static_cast<int32_t>(v);
  return v > static_cast<uint64_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(v);
}

// The leading decimal floating-point number of a default; 0 without one.
double ParamDefaultDouble(const char* text) {
  bool negative;
  const char* p = ParamSkipToNumber(text, &negative);
  bool digitFirst = (*p >= '0' && *p <= '9') || (*p == '.' && p[1] >= '0' && p[1] <= '9');
  if (!digitFirst) return 0.0;
  double v = 0.0;
  auto [end, ec] = std::from_chars(p, p + std::strlen(p), v, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: what strtod would give.
    const std::string_view number(p, static_cast<size_t>(end - p));
    bool tiny = number.find("e-") != std::string_view::npos || number.find("E-") != std::string_view::npos;
    v = tiny ? 0.0 : HUGE_VAL;
  }
  return negative ? -v : v;
}

void ParamApplyDefault(ParamEntry* e) {
  const char* text = e->defaultValue != nullptr ? e->defaultValue : "";
  switch (e->type) {
    case TYPSTRING:
      TextCopy(e->value.text, sizeof e->value.text, text);
      break;
    case TYPCHAR:
      e->value.ch = text[0];
      break;
    case TYPBOOL:
      e->value.number = std::strcmp(text, "TRUE") == 0 ? 1 : 0;
      break;
    case TYPINT:
    case TYPLONG:
      e->value.number = ParamDefaultInt(text);
      break;
    case TYPDOUBLE:
      e->value.real = ParamDefaultDouble(text);
      break;
    default:
      break;
  }
}

}  // namespace

int32_t ParamCheckTable(ParamEntry* table, int32_t count, int32_t* where) {
  for (int32_t i = 0; i < count; i++) {
    ParamEntry* e = &table[i];
    if (e->found == 0 && e->optional == 0) {
      *where = i;
      return PARMISSING;
    }
    if (e->valid == 0 && e->onError == 0) {
      *where = i;
      return PARINVALID;
    }
    if (e->onError != 0 && (e->valid == 0 || e->found == 0)) ParamApplyDefault(e);
  }
  return PAROK;
}
