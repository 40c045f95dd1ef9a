#include "lasterror.h"

#include <cstdio>

#include "os_error.h"
#include "sockio.h"

namespace {
int32_t lastError = 0;
}

int32_t SockioFail(int32_t code) {
  lastError = code;
  return code;
}

void SockioErrorText(int32_t code, char* text, int32_t size) {
  if (!text || size <= 0) return;
  const char* own = nullptr;
  switch (code) {
    case 0: own = "no error"; break;
    case SOCKIO_ETIMEOUT: own = "time-out"; break;
    case SOCKIO_ECLOSED: own = "connection closed by the peer"; break;
    case SOCKIO_EADDRESS: own = "invalid IPv4 address text"; break;
    case SOCKIO_EHANDLE: own = "invalid socket handle"; break;
    case SOCKIO_EARGUMENT: own = "invalid argument"; break;
    case SOCKIO_ENOLOG: own = "error log not open"; break;
    case SOCKIO_ESTOPPED: own = "cut short by a termination request"; break;
    case SOCKIO_EEXTRA: own = "the peer sent more than was asked for"; break;
  }
  if (own) {
    snprintf(text, static_cast<size_t>(size), "%s", own);
  } else {
    OsErrorText(code, text, static_cast<size_t>(size));
  }
}

int32_t CGetErrorInfo(int32_t* code, char* text, int32_t size) {
  if (code) *code = lastError;
  SockioErrorText(lastError, text, size);
  return 0;
}
