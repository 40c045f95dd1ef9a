// Receiver addresses as they stand in buffer files.
#pragma once
#include <cstdint>

// Parses dotted IPv4 text of at most `limit` characters (or up to its zero
// byte), surrounding white space allowed, into host byte order. False for
// any other text.
bool SockioParseIPv4(const char* text, int limit, uint32_t* ipv4);
