// Checking the table after reading and replacing missing or unusable values
// by their defaults.
#pragma once
#include <cstdint>

#include "paramfile.h"

// 0, or PARMISSING / PARINVALID with *where set to the failing entry's index.
int32_t ParamCheckTable(ParamEntry* table, int32_t count, int32_t* where);
