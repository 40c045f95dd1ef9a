// Arbitrary bytes as a buffer file, read line by line to the end as the
// forwarding loop does, framing and marking every "$" piece. Checks: no piece
// longer than a line, positions strictly rising and never past the file, the
// pieces together are the text-mode reading of the file, every frame is the
// prefix, the piece from column 58 up to its first zero byte, then zeros, and
// the marks are on disk and seen by later reads.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "bufstream.h"
#include "tormel.h"

namespace {

std::string TextModeReading(const std::string& bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == 0x1A) break;
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
      text += '\n';
      ++i;
    } else {
      text += bytes[i];
    }
  }
  return text;
}

std::string FileBytes(const char* path) {
  std::string all;
  FILE* f = fopen(path, "rb");
  if (f == nullptr) abort();
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) all.append(buf, n);
  fclose(f);
  return all;
}

void Check(bool ok) {
  if (!ok) abort();
}

void CheckFrame(const char* piece, int n) {
  static const char prefix[] = "192.168.100.200" "65535";
  char frame[TORMEL_FRAME_SIZE + 1];
  memset(frame, 0x55, sizeof frame);
  TormelBuildFrame(frame, piece, static_cast<size_t>(n), prefix);
  Check(memcmp(frame, prefix, TORMEL_PREFIX_SIZE) == 0);
  // The copy starts at column 38 and stops at the first zero byte from there.
  int end = TORMEL_ADDRESS_COLUMN;
  while (end < n && piece[end] != '\0') ++end;
  size_t at = TORMEL_PREFIX_SIZE;
  for (int i = TORMEL_CONTENT_COLUMN; i < end; ++i) Check(frame[at++] == piece[i]);
  while (at < sizeof frame) Check(frame[at++] == '\0');
}

// Reads from the current position to the end; the pieces joined, and the
// start offsets of the pieces that begin with "$".
std::string ReadAll(BufStream* s, uint64_t fileSize, std::vector<uint64_t>* dollarStarts) {
  std::string joined;
  char line[TORMEL_LINE_MAX + 2];
  uint64_t last = BufTell(s);
  while (!BufEof(s)) {
    uint64_t start = BufTell(s);
    line[TORMEL_LINE_MAX + 1] = 0x55;
    int n = BufGets(s, line, TORMEL_LINE_MAX + 1);
    Check(line[TORMEL_LINE_MAX + 1] == 0x55);
    Check(BufError(s) == 0);
    Check(n >= 0 && n <= TORMEL_LINE_MAX);
    if (n == 0) {
      Check(BufEof(s) && BufTell(s) == start);
      break;
    }
    Check(line[n] == '\0');
    Check(BufTell(s) > last && BufTell(s) <= fileSize);
    // A piece ends at a line end, at a full line, or at the end of the text.
    Check(line[n - 1] == '\n' || n == TORMEL_LINE_MAX || BufEof(s));
    last = BufTell(s);
    if (line[0] == '$' && dollarStarts != nullptr) {
      dollarStarts->push_back(start);
      CheckFrame(line, n);
    }
    joined.append(line, static_cast<size_t>(n));
  }
  return joined;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char path[] = "/tmp/fuzz_bufstream_XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) abort();
  Check(write(fd, data, size) == static_cast<ssize_t>(size));
  close(fd);

  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (!bytes.empty() && bytes.back() == 0x1A) bytes.back() = '\n';

  static BufStream s;
  Check(BufOpen(&s, path) == 0);
  Check(FileBytes(path) == bytes);

  std::vector<uint64_t> marks;
  std::string joined = ReadAll(&s, bytes.size(), &marks);
  std::string text = TextModeReading(bytes);
  Check(joined == text);

  for (uint64_t at : marks) {
    Check(bytes[at] == '$');
    Check(BufWriteAt(&s, at, '*') == 0);
    bytes[at] = '*';
  }
  Check(FileBytes(path) == bytes);
  BufSeek(&s, 0);
  Check(ReadAll(&s, bytes.size(), nullptr) == TextModeReading(bytes));

  Check(BufClose(&s) == 0);
  unlink(path);
  return 0;
}
