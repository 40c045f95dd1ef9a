// Storing a value read from the file into the table entry it belongs to.
#pragma once
#include <cstdint>

#include "paramfile.h"

// First entry of section and key (any key when key is null), or null.
ParamEntry* ParamFindEntry(const char* section, const char* key);

// Stores the token as the value of the current key of an ordinary section:
// content and found always, value and valid when the text fits the type.
void ParamStoreValue(ParamEntry* entry, const char* text);
// Appends the current key and the token as one item of a dynamic section;
// 0, PARNOTDYN or PARNOMEM.
int32_t ParamStoreItem(const char* key, const char* text);
