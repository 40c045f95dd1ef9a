// Real buffer files in a fresh temporary folder per test.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "bufstream.h"

class BufFileTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes bytes as the file name in the temporary folder; returns its path.
  std::string Make(const std::string& name, const std::string& bytes);
  static std::string Contents(const std::string& path);  // read with a descriptor of its own
  static void Append(const std::string& path, const std::string& bytes);

  // One BufGets into a 551-character line; the text as read.
  std::string Gets(int size = TORMEL_LINE_MAX + 1);

  std::string dir_;
  BufStream s_;  // closed in TearDown when a test left it open
  int lastCount_ = 0;
};
