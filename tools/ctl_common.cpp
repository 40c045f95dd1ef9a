// Helpers the commands share: messages, numbers, the parameter file.
#include <cstdio>

#include "ctl.h"
#include "os_error.h"

void CtlError(const std::string& text) { fprintf(stderr, "tormelctl: %s\n", text.c_str()); }

int CtlUsageError(const std::string& text) {
  CtlError(text);
  CtlPrintUsage(stderr);
  return CTL_EXIT_USAGE;
}

std::string CtlErrorText(int err) {
  char text[160];
  OsErrorText(err, text, sizeof text);
  return text;
}

bool CtlReadParams(const char* path, CtlParams* params) {
  return TormelReadParams(path, params->table, &params->config, &params->code, &params->where) != 0;
}

bool CtlParseNumber(const char* text, uint64_t min, uint64_t max, uint64_t* value) {
  if (text == nullptr || *text == '\0') return false;
  uint64_t v = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    v = v * 10 + static_cast<uint64_t>(*p - '0');
    if (v > max) return false;
  }
  if (v < min) return false;
  *value = v;
  return true;
}
