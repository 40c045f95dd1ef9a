#include "paramstate.h"

#include <cstring>

ParamState gParamState = {nullptr, 0, {-1, nullptr, 0, 0}, 1, 0, {}, {}, {}, 0, 0};

void ParamCopyText(char* dst, const char* src, size_t max) {
  size_t n = 0;
  if (src != nullptr) {
    while (n < max && src[n] != '\0') n++;
    std::memcpy(dst, src, n);
  }
  dst[n] = '\0';
}
