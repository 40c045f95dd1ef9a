#include <cstdio>
#include <cstring>

#include "tormel.h"

void TormelBufferBase(char* bufferFile) {
  for (char* p = bufferFile; *p; ++p) {
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
  }
  if (char* suffix = strstr(bufferFile, ".BUF")) *suffix = '\0';
}

void TormelBufferName(char* name, size_t size, const char* base, unsigned n) {
  snprintf(name, size, "%s%u.BUF", base, n);
}
