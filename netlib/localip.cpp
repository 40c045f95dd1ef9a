#include <cstring>

#include "lasterror.h"
#include "os_net.h"
#include "sockio.h"

int32_t CGetLocalIPString(char* buffer, int32_t size) {
  if (!buffer || size <= 0) return SockioFail(SOCKIO_EARGUMENT);
  char text[64] = "";
  int err = OsNetStartup();
  if (err == 0) err = OsLocalIPv4(text, sizeof text);
  if (err != 0) return SockioFail(err);
  size_t length = strlen(text);
  if (length >= static_cast<size_t>(size)) return SockioFail(SOCKIO_EARGUMENT);
  memcpy(buffer, text, length + 1);
  return 0;
}
