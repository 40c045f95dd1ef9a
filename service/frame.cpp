#include <cstdio>
#include <cstring>

#include "tormel.h"

void TormelBuildPrefix(char prefix[TORMEL_PREFIX_SIZE], const char* localIp, const char* portText) {
  char text[TORMEL_PREFIX_SIZE + 1];
  snprintf(text, sizeof text, "%-15.15s%-5.5s", localIp ? localIp : "", portText ? portText : "");
  memcpy(prefix, text, TORMEL_PREFIX_SIZE);
}

void TormelBuildFrame(char* frame, const char* line, size_t length, const char prefix[TORMEL_PREFIX_SIZE]) {
  memset(frame, 0, TORMEL_FRAME_SIZE + 1);
  size_t copied = 0;
  for (size_t i = TORMEL_ADDRESS_COLUMN; i < length && line[i] != '\0' && copied < TORMEL_FRAME_SIZE; ++i) {
    frame[copied++] = line[i];
  }
  memcpy(frame, prefix, TORMEL_PREFIX_SIZE);
}
