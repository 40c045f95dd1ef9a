#include "sockio.h"
#include "text.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool SockioParseIPv4(const char* text, int limit, uint32_t* ipv4) {
  if (!text) return false;
  int end = 0;
  while (end < limit && text[end] != '\0') ++end;
  int i = 0;
  while (i < end && TextIsSpace(text[i])) ++i;
  while (end > i && TextIsSpace(text[end - 1])) --end;

  uint32_t value = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= end || text[i] != '.') return false;
      ++i;
    }
    int digits = 0;
    uint32_t octet = 0;
    while (i < end && IsDigit(text[i]) && digits < 3) {
      octet = octet * 10 + static_cast<uint32_t>(text[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || octet > 255) return false;
    value = (value << 8) | octet;
  }
  if (i != end) return false;
  *ipv4 = value;
  return true;
}
