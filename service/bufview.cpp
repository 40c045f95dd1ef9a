// Buffer files read as the service reads them, for looking only.
#include "buffile.h"
#include "text.h"
#include "tormel.h"

namespace {

std::string Trimmed(const std::string& text) {
  size_t first = 0, end = text.size();
  while (first < end && TextIsSpace(text[first])) ++first;
  while (end > first && TextIsSpace(text[end - 1])) --end;
  return text.substr(first, end - first);
}

// Columns 38-52 of the first line: at most 15 characters from byte 38, up to
// and including a line end, as the forwarding loop reads them.
int ReadReceiverField(BufStream* s, std::string* receiver) {
  char field[TORMEL_ADDRESS_WIDTH + 1];
  BufSeek(s, TORMEL_ADDRESS_COLUMN);
  int length = BufGets(s, field, sizeof field);
  if (length == 0 && BufError(s) != 0) return BufError(s);
  *receiver = Trimmed(std::string(field, static_cast<size_t>(length)));
  return 0;
}

}  // namespace

int BufReadReceiver(const char* path, std::string* receiver) {
  BufStream s;
  int rc = BufOpenReadOnly(&s, path);
  if (rc != 0) return rc;
  rc = ReadReceiverField(&s, receiver);
  BufClose(&s);
  return rc;
}

int BufInspect(const char* path, BufView* view) {
  *view = BufView{};
  BufStream s;
  int rc = BufOpenReadOnly(&s, path);
  if (rc != 0) return rc;
  rc = ReadReceiverField(&s, &view->receiver);
  if (rc == 0) rc = BufCountRecords(&s, view);
  BufClose(&s);
  return rc;
}

// Counts the lines (pieces of a long line, each judged by its own first
// character) as the loop would send them.
int BufCountRecords(BufStream* s, BufView* view) {
  BufSeek(s, 0);
  char line[TORMEL_LINE_SIZE];
  for (;;) {
    int length = BufGets(s, line, sizeof line);
    if (length == 0) break;
    if (line[0] == '$') ++view->pending;
    if (line[0] == '*') ++view->delivered;
  }
  if (BufError(s) != 0) return BufError(s);
  uint64_t size = 0;
  // A CTRL-Z as the very last byte closes the text; anything behind one
  // is never sent.
  if (BufAtMark(s) && OsFileSize(s->file, &size) == 0) view->behindMark = size - BufTell(s) - 1;
  return 0;
}
