// Waiting for changes in a folder: a sleeping loop wakes when a file in it
// is created, renamed into place, written or closed, instead of looking
// again only when its sleep is over. Where the system cannot tell (a network
// file system), OsWatchOpen fails and the caller sleeps as before.
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

enum class OsWatchEnd {
  Timeout,  // the time ran out
  Changed,  // relevant() accepted a changed name, or changes were lost count of
  Stop,     // a termination request (OsStopOnSignals) came
  Lost,     // the folder went away or was replaced: nothing more will be told
};
// Waits up to ms for a change in the folder. Every name the system reports
// changed is put to relevant(name, context); the first it accepts ends the
// wait. Changes it turns down are consumed.
OsWatchEnd OsWatchWait(OsWatch* w, uint32_t ms, bool (*relevant)(const char* name, void* context), void* context);
