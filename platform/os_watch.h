// Waiting for changes in a folder: a sleeping loop wakes when a file in it
// is created, renamed into place, written or closed, instead of looking
// again only when its sleep is over. Where the system cannot tell (a network
// file system), OsWatchOpen fails, and the caller sleeps its whole pause
// every time before it looks again.
#pragma once
#include <cstdint>

struct OsWatch {
  intptr_t handle = -1;      // the notification descriptor, or the folder's HANDLE
  void* state = nullptr;     // what a pending wait needs between calls (Windows)
  alignas(8) char events[4096];  // events are read into this, never into allocated memory
};

// Starts watching folder. 0, or an error number where changes in it cannot
// be told (the watch is then closed).
int OsWatchOpen(const char* folder, OsWatch* w);
void OsWatchClose(OsWatch* w);

enum class OsWatchNews {
  None,     // nothing that counts
  Changed,  // relevant() accepted a changed name, or changes were lost count of
  Lost,     // the folder went away or was replaced: nothing more will be told
};
// Takes what the system has told of the folder so far, without waiting:
// every name it reports changed is put to relevant(name, context), and any
// it accepts makes the news Changed; all are consumed. The loop waits for news with OsWaitAny (os_wait.h).
OsWatchNews OsWatchRead(OsWatch* w, bool (*relevant)(const char* name, void* context), void* context);
