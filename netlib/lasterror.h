// The library's last failure, as CGetErrorInfo reports it.
#pragma once
#include <cstdint>

// Records code as the last failure and returns it, so failures read
// `return SockioFail(code);`. 
int32_t SockioFail(int32_t code);
// The text for one of the library's codes or a system error number.
void SockioErrorText(int32_t code, char* text, int32_t size);
