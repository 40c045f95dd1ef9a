// One parameter description in a line, for the reader's suites and its
// fuzz target.
#pragma once
#include <cstdint>
#include <cstring>

#include "paramfile.h"

inline ParamEntry MakeEntry(const char* group, const char* key, int32_t type, double minValue = 0,
                            double maxValue = 0, int32_t optional = 0, int32_t onError = 0,
                            const char* defaultValue = nullptr, const char* comment = nullptr) {
  ParamEntry e;
  std::memset(&e, 0, sizeof e);
  e.groupToken = group;
  e.paramToken = key;
  e.type = type;
  e.minValue = minValue;
  e.maxValue = maxValue;
  e.optional = optional;
  e.onError = onError;
  e.defaultValue = defaultValue;
  e.comment = comment;
  return e;
}
