// The power-cut file system for a test: tormel-powercut started as a child
// process, mounted at a folder of its own inside folder, and driven over its
// control socket beside it; unmounted when the object goes. Linux only.
#pragma once
#include <string>

#include "test_process.h"

struct PowerCutMount {
  // Mounts at folder/disk; the control socket is folder/powercut.sock.
  explicit PowerCutMount(const std::string& folder);
  ~PowerCutMount();
  PowerCutMount(const PowerCutMount&) = delete;
  PowerCutMount& operator=(const PowerCutMount&) = delete;

  // The power goes: from now on the mount shows what its disk holds.
  bool Cut() { return Command("cut"); }
  // Makes every fsync, fdatasync and folder fsync fail with EIO, or work.
  bool FailSyncs(bool fail) { return Command(fail ? "fault on" : "fault off"); }
  bool Command(const std::string& command);
  std::string Path(const std::string& name) const { return path + "/" + name; }

  std::string path;         // the mount point
  bool mounted = false;
  std::string unavailable;  // why this machine cannot mount it, when it cannot
  std::string failure;      // what else went wrong
  std::string control;
  ChildProcess daemon;
};
