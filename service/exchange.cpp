#include <cstdio>
#include <cstring>

#include "sockio.h"
#include "tormel.h"

int32_t TormelExchangeFailed(const char* operation, int32_t code) {
  // A call cut short by a stop request is no failure: the record stays
  // pending for the next run, and nothing is logged.
  if (code == SOCKIO_ESTOPPED) return code;
  char message[TORMEL_MESSAGE_SIZE];
  snprintf(message, sizeof message, "Fehler: %s! ErrorCode: %ld", operation, static_cast<long>(code));
  CLogWrite(TORMEL_LOG_SOURCE, "SndWithReply()", 1, code, 0, message, "");
  return code;
}

int32_t SndWithReply(int32_t handle, const char* data, int32_t length, char* reply, int32_t replyLength,
                     int32_t timeout) {
  memset(TormelMessage, 0, sizeof TormelMessage);
  int32_t sent = 0;
  int32_t r = CSocketWrite(handle, data, length, &sent);
  if (r != 0) return TormelExchangeFailed("CSocketWrite", r);
  int32_t received = 0;
  r = CSocketRead(handle, reply, replyLength, &received, timeout);
  if (r != 0) return TormelExchangeFailed("CSocketRead", r);
  return 0;
}
