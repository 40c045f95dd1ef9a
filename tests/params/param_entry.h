// One parameter description in a line, for the reader's suites and its
// fuzz target.
#pragma once
#include <cstdint>

#include "paramfile.h"

inline ParamEntry MakeEntry(const char* group, const char* key, int32_t type, double minValue = 0,
                            double maxValue = 0, int32_t optional = 0, int32_t onError = 0,
                            const char* defaultValue = nullptr, const char* comment = nullptr) {
  return {.groupToken = group, .paramToken = key, .tokenId = 0, .found = 0, .optional = optional,
          .onError = onError, .valid = 0, .minValue = minValue, .maxValue = maxValue, .type = type,
          .defaultValue = defaultValue, .content = {}, .value = {}, .comment = comment};
}
