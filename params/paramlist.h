// Listing the table on the console, one entry per key press.
#pragma once
#include <cstdint>

#include "paramfile.h"

void ParamListTable(const ParamEntry* table, int32_t count);
