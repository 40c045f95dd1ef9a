#include "lasterror.h"

#include <cstdio>

#include "os_error.h"
#include "sockio.h"

namespace {

int32_t lastError = 0;

// The library's own text for code; null for a system error number.
const char* OwnText(int32_t code) {
  switch (code) {
    case 0: return "no error";
    case SOCKIO_ETIMEOUT: return "time-out";
    case SOCKIO_ECLOSED: return "connection closed by the peer";
    case SOCKIO_EADDRESS: return "invalid IPv4 address text";
    case SOCKIO_EHANDLE: return "invalid socket handle";
    case SOCKIO_EARGUMENT: return "invalid argument";
    case SOCKIO_ENOLOG: return "error log not open";
    case SOCKIO_ESTOPPED: return "cut short by a termination request";
    case SOCKIO_EEXTRA: return "the peer sent more than was asked for";
    default: return nullptr;
  }
}

}  // namespace

int32_t SockioFail(int32_t code) {
  lastError = code;
  return code;
}

int32_t CGetErrorInfo(int32_t* code, char* text, int32_t size) {
  if (code) *code = lastError;
  if (!text || size <= 0) return 0;
  if (const char* own = OwnText(lastError))
    snprintf(text, static_cast<size_t>(size), "%s", own);
  else
    OsErrorText(lastError, text, static_cast<size_t>(size));
  return 0;
}
