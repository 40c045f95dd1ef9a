// tormelctl put on the power-cut file system: what it confirms is on the
// disk, and a sync that fails is a put that fails.
#include "powercut_fixture.h"

namespace {

struct Put : PowerCutTest {
  void SetUp() override {
    PowerCutTest::SetUp();
    params = WriteParams(6665, "TIMEOUT = 1\r\nBUFFDATEI = disk/TORMEL.BUF\r\n");
  }
  int RunPut(const std::string& record, std::string* err = nullptr) {
    return RunProgram(TORMELCTL_BIN, {"put", "--config", params, "--number", "1", "--to", "127.0.0.1", record},
                      nullptr, err);
  }
  std::string params;
};

TEST_F(Put, WhatItConfirmsSurvivesACut) {
  ASSERT_EQ(RunPut("in a new file"), 0);
  ASSERT_EQ(RunPut("appended"), 0);
  ASSERT_TRUE(disk->Cut());
  EXPECT_EQ(ReadFile(disk->Path("TORMEL1.BUF")), BufferLine("in a new file") + BufferLine("appended"));
}

TEST_F(Put, AFailedSyncFailsThePutAndLeavesTheFileAsItWas) {
  ASSERT_EQ(RunPut("first"), 0);
  ASSERT_TRUE(disk->FailSyncs(true));
  std::string err;
  EXPECT_EQ(RunPut("not on disk", &err), 1);
  EXPECT_EQ(err, "tormelctl: cannot sync disk/TORMEL1.BUF: Input/output error; the record is not on disk and was "
                 "taken out again\n");
  EXPECT_EQ(ReadFile(disk->Path("TORMEL1.BUF")), BufferLine("first"));
  ASSERT_TRUE(disk->FailSyncs(false));
  ASSERT_TRUE(disk->Cut());
  EXPECT_EQ(ReadFile(disk->Path("TORMEL1.BUF")), BufferLine("first"));
}

}  // namespace
