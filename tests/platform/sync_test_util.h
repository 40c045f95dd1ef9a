// Helpers for the named-object tests: a fresh runtime directory per test
// (on every system; Windows has no use for it), and on POSIX the children
// they fork(), waited for with a deadline.
#pragma once
#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

#include "test_process.h"
#include "test_support.h"

// Points TORMEL_RUNTIME_DIR into a fresh temporary folder (not yet created,
// so the code under test makes it) and removes everything afterwards.
class RuntimeDirTest : public ::testing::Test {
 protected:
  void SetUp() override { TestSetEnv("TORMEL_RUNTIME_DIR", runtime_); }
  void TearDown() override { TestUnsetEnv("TORMEL_RUNTIME_DIR"); }
  TempDir dir;
  std::string base_ = dir.path;           // the temporary folder
  std::string runtime_ = dir.Path("rt");  // the runtime directory
};

// A fork()ed child's exit status as WaitExit gives it: -1 when it did not
// end within the deadline (it is then killed), 128 + signal when killed.
inline int WaitForked(pid_t pid, std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
  ChildProcess child = ForkedChild(pid);
  return WaitExit(child, deadline);
}

// Runs body in a fork()ed child that ends with what body returns as its
// exit status; that status as WaitForked gives it.
int RunForked(const std::function<int()>& body, std::chrono::milliseconds deadline = std::chrono::seconds(20));

// Reads one byte from fd; false on end of file or error.
bool ReadByte(int fd);
