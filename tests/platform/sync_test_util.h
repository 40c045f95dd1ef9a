// Helpers for the named-object tests: a fresh runtime directory per test and
// child processes waited for with a deadline.
#pragma once
#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>

// Points TORMEL_RUNTIME_DIR into a fresh temporary folder (not yet created,
// so the code under test makes it) and removes everything afterwards.
class RuntimeDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string base_;     // the temporary folder
  std::string runtime_;  // base_ + "/rt", the runtime directory
};

// Waits for pid up to timeoutMs; kills it when the deadline passes.
// Returns true with the wait status when it ended in time.
bool WaitChild(pid_t pid, int timeoutMs, int* status);

// Exit code of a child that ended normally, -1 otherwise.
int ExitCode(int status);

// Reads one byte from fd; false on end of file or error.
bool ReadByte(int fd);
