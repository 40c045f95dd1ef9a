// Between the files of the buffer-file module only.
#pragma once
#include <cstdint>
#include <string>

#include "buffile.h"

// The folder part of a base or path, with its separator ("" for none).
std::string BufFolderPart(const std::string& path);
// The folder itself: "." for none.
std::string BufFolderOf(const std::string& base);

// True for a numbered or retired buffer file name with the given prefix (a
// file name, without folder).
bool BufIsBufferName(const std::string& name, const std::string& prefix);

// The private name a file of path takes when it is retired, seq-th.
std::string BufRetiredPath(const std::string& path, uint64_t seq);

// The folder's record of a retired file at path; nullptr when none.
BufRetired* BufFindRetired(BufFolder* folder, const std::string& path);
// Forgets what the folder knows of a file that is gone.
void BufForget(BufFolder* folder, const std::string& path, const OsFileId& id);

// Notes what the loop left the file at path as: gone, or of this size.
void BufNoteLastLook(BufFolder* folder, const std::string& path, bool exists, uint64_t size);
// A producer changed the file at path (BufFolder::touched).
void BufNoteTouched(BufFolder* folder, const std::string& path);
// The loop no longer holds the file at path open (once for each time it
// was noted held).
void BufLetGo(BufFolder* folder, const std::string& path);
