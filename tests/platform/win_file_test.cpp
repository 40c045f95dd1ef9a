// The Windows platform layer: the file sharing the service and its
// producers rely on (named_objects_test.cpp has the events and the mutex).
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "os_file.h"
#include "test_support.h"

namespace {

struct WinPlatform : ::testing::Test {
  TempDir dir;
};

TEST_F(WinPlatform, LockExcludesLockersButNotReadersAndWriters) {
  std::string path = dir.Path("T1.BUF");
  WriteFile(path, "$abc\r\n");
  OsFile service, producer;
  ASSERT_EQ(OsFileOpenUpdate(path.c_str(), &service), 0);
  ASSERT_EQ(OsFileOpenAppend(path.c_str(), &producer), 0);
  ASSERT_EQ(OsFileLock(producer), 0);
  // The service reads and marks while the producer holds the lock.
  char byte = 0;
  size_t got = 0;
  ASSERT_EQ(OsFileReadAt(service, 0, &byte, 1, &got), 0);
  EXPECT_EQ(got, 1u);
  ASSERT_EQ(OsFileWriteAt(service, 0, "*", 1), 0);
  bool locked = false;
  std::thread waiter([&] {
    OsFileLock(service);
    locked = true;
  });
  ASSERT_EQ(OsFileAppend(producer, "$def\r\n", 6), 0);
  ASSERT_EQ(OsFileUnlock(producer), 0);
  waiter.join();
  EXPECT_TRUE(locked);
  OsFileUnlock(service);
  OsFileClose(&producer);
  OsFileClose(&service);
  EXPECT_EQ(ReadFile(path), "*abc\r\n$def\r\n");
}

TEST_F(WinPlatform, FileRemovedWhileOpenIsNoLongerAtItsPathAndItsNameComesFree) {
  std::string path = dir.Path("T1.BUF");
  WriteFile(path, "$abc\r\n");
  OsFile service;
  ASSERT_EQ(OsFileOpenUpdate(path.c_str(), &service), 0);
  bool same = false;
  ASSERT_EQ(OsFileIsAtPath(service, path.c_str(), &same), 0);
  EXPECT_TRUE(same);
  ASSERT_EQ(OsFileRemove(path.c_str()), 0);
  ASSERT_EQ(OsFileIsAtPath(service, path.c_str(), &same), 0);
  EXPECT_FALSE(same) << "a delete-pending file is not at its path";

  // A producer's open waits for the last handle of the removed file.
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    OsFileClose(&service);
  });
  OsFile producer;
  int err = OsFileOpenAppend(path.c_str(), &producer);
  closer.join();
  ASSERT_EQ(err, 0);
  ASSERT_EQ(OsFileAppend(producer, "$new\r\n", 6), 0);
  OsFileClose(&producer);
  EXPECT_EQ(ReadFile(path), "$new\r\n");
}

TEST_F(WinPlatform, ReadOnlyAttributeIsRefusedForUpdate) {
  std::string path = dir.Path("T1.BUF");
  WriteFile(path, "$abc\r\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);
  OsFile f;
  EXPECT_NE(OsFileOpenUpdate(path.c_str(), &f), 0);
  EXPECT_NE(OsFileOpenAppend(path.c_str(), &f), 0) << "refused at once, not waited for";
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

}  // namespace
