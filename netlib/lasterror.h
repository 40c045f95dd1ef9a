// The library's last failure, as CGetErrorInfo reports it.
#pragma once
#include <cstdint>

// Records code as the last failure and returns it, so failures read
// `return SockioFail(code);`.
int32_t SockioFail(int32_t code);
