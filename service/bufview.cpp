// Buffer files read as the service reads them, for looking only.
#include "buffile.h"
#include "text.h"

namespace {

int ReadReceiver(BufStream* s, std::string* receiver) {
  char field[TORMEL_ADDRESS_WIDTH + 1];
  int length = 0;
  int rc = BufReadReceiverField(s, field, &length);
  if (rc == 0) *receiver = TextTrimmed(field, static_cast<size_t>(length));
  return rc;
}

}  // namespace

int BufReadReceiver(const char* path, std::string* receiver) {
  BufStream s;
  int rc = BufOpenReadOnly(&s, path);
  if (rc != 0) return rc;
  rc = ReadReceiver(&s, receiver);
  BufClose(&s);
  return rc;
}

int BufInspect(const char* path, BufView* view) {
  *view = BufView{};
  BufStream s;
  int rc = BufOpenReadOnly(&s, path);
  if (rc != 0) return rc;
  rc = ReadReceiver(&s, &view->receiver);
  if (rc == 0) rc = BufCountRecords(&s, view);
  BufClose(&s);
  return rc;
}

// The lines (pieces of a long line, each judged by its own first character)
// as the loop would send them.
int BufCountRecords(BufStream* s, BufView* view) {
  BufSeek(s, 0);
  char line[TORMEL_LINE_SIZE];
  for (;;) {
    int length = BufGets(s, line, sizeof line);
    if (length == 0) break;
    if (line[0] == TORMEL_MARK_PENDING) ++view->pending;
    if (line[0] == TORMEL_MARK_DELIVERED) ++view->delivered;
  }
  if (BufError(s) != 0) return BufError(s);
  view->behindMark = BufBytesBehindMark(s);
  return 0;
}
