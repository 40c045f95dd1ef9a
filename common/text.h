// Text helpers that every layer shares. They depend on no locale, so that a
// host program's setlocale changes nothing in what they accept.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

// White space: blank, tab, line feed, vertical tab, form feed, carriage
// return. It separates the tokens of a parameter file and may surround a
// receiver address.
inline bool TextIsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads the decimal digits at the start of text (no sign, no blank): their
// number, and into *value their value, held at UINT64_MAX when it is larger.
inline size_t TextReadDigits(const char* text, uint64_t* value) {
  uint64_t v = 0;
  size_t n = 0;
  for (; text[n] >= '0' && text[n] <= '9'; ++n) {
    uint64_t digit = static_cast<uint64_t>(text[n] - '0');
    v = v > (UINT64_MAX - digit) / 10 ? UINT64_MAX : v * 10 + digit;
  }
  *value = v;
  return n;
}

// True when text is digits alone, at least one, of a value from min to max.
inline bool TextIsNumberIn(const char* text, uint64_t min, uint64_t max, uint64_t* value) {
  uint64_t v = 0;
  size_t n = TextReadDigits(text, &v);
  if (n == 0 || text[n] != '\0' || v < min || v > max) return false;
  *value = v;
  return true;
}

// The length characters of text without the white space around them.
inline std::string TextTrimmed(const char* text, size_t length) {
  size_t first = 0, end = length;
  while (first < end && TextIsSpace(text[first])) ++first;
  while (end > first && TextIsSpace(text[end - 1])) --end;
  return std::string(text + first, end - first);
}

// Copies src into dst, a field of size bytes (size > 0): cut to size - 1
// characters and always terminated. A null src gives an empty text.
inline void TextCopy(char* dst, size_t size, const char* src) {
  size_t length = src != nullptr ? strnlen(src, size - 1) : 0;
  memcpy(dst, src != nullptr ? src : "", length);
  dst[length] = '\0';
}

// Copies src into dst, a field of size bytes, only when it fits whole with
// its terminator; false, dst untouched, when it does not.
inline bool TextCopyWhole(char* dst, size_t size, const char* src) {
  size_t length = strlen(src);
  if (length >= size) return false;
  memcpy(dst, src, length + 1);
  return true;
}
