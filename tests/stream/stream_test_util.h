// Real buffer files in a fresh temporary folder per test.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "bufstream.h"
#include "test_support.h"

class BufFileTest : public ::testing::Test {
 protected:
  void TearDown() override { BufClose(&s_); }  // when a test left it open

  // Writes bytes as the file name in the temporary folder; returns its path.
  std::string Make(const std::string& name, const std::string& bytes) {
    WriteFile(dir.Path(name), bytes);
    return dir.Path(name);
  }

  // One BufGets into a 551-character line; the text as read.
  std::string Gets(int size = TORMEL_LINE_SIZE);

  TempDir dir;
  BufStream s_;
  int lastCount_ = 0;
};
