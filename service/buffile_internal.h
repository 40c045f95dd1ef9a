// Between the files of the buffer-file module only.
#pragma once
#include <cstdint>
#include <string>

#include "buffile.h"

// The folder part of a base or path, with its separator ("" for none).
std::string BufFolderPart(const std::string& path);

// The private name a file of path takes when it is retired, seq-th.
std::string BufRetiredPath(const std::string& path, uint64_t seq);

// The folder's record of a retired file at path; nullptr when none.
BufRetired* BufFindRetired(BufFolder* folder, const std::string& path);
// Forgets what the folder knows of a file that is gone.
void BufForget(BufFolder* folder, const std::string& path, const OsFileId& id);
