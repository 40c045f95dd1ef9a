#include "lasterror.h"
#include "os_net.h"
#include "sockio.h"
#include "text.h"

int32_t CGetLocalIPString(char* buffer, int32_t size) {
  if (!buffer || size <= 0) return SockioFail(SOCKIO_EARGUMENT);
  char text[64] = "";
  int err = OsNetStartup();
  if (err == 0) err = OsLocalIPv4(text, sizeof text);
  if (err != 0) return SockioFail(err);
  return TextCopyWhole(buffer, static_cast<size_t>(size), text) ? 0 : SockioFail(SOCKIO_EARGUMENT);
}
