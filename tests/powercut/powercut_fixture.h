// A test on the power-cut file system: the service's folder (ServiceFolder)
// with the file system mounted at disk/ inside it. A machine that cannot
// mount FUSE skips the test and says why.
#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "powercut_mount.h"
#include "test_service.h"

struct PowerCutTest : ::testing::Test, ServiceFolder {
  void SetUp() override {
    disk = std::make_unique<PowerCutMount>(dir.path);
    if (!disk->unavailable.empty()) GTEST_SKIP() << disk->unavailable;
    ASSERT_TRUE(disk->mounted) << disk->failure;
  }
  // Unmounted before the folder goes.
  void TearDown() override { disk.reset(); }

  std::unique_ptr<PowerCutMount> disk;
};
