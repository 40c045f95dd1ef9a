// The named objects as every system has them: the instance mutex, claimed
// once, and manual-reset events whose handles all see one state. Windows
// keeps them in one namespace for the whole machine, so the names here are
// the tests' own.
#include <thread>

#include "os_error.h"
#include "os_sync.h"
#include "sync_test_util.h"

namespace {

using NamedObjects = RuntimeDirTest;

constexpr const char* kMutex = "TormelTestMutex";
constexpr const char* kEvent = "TormelTestEvent";
constexpr const char* kOtherEvent = "TormelTestOtherEvent";

TEST_F(NamedObjects, MutexIsClaimedOnceEvenFromTheHoldersThreadUntilReleased) {
  EXPECT_EQ(OsMutexIsHeld(kMutex), 0);
  OsMutex first, second;
  ASSERT_EQ(OsMutexClaim(kMutex, &first), 0);
  EXPECT_EQ(OsMutexIsHeld(kMutex), 1);
  EXPECT_EQ(OsMutexClaim(kMutex, &second), OS_ALREADY_EXISTS);
  EXPECT_EQ(second.handle, -1);
  int fromOtherThread = 0;
  std::thread([&] { fromOtherThread = OsMutexClaim(kMutex, &second); }).join();
  EXPECT_EQ(fromOtherThread, OS_ALREADY_EXISTS);
  // Probing does not take the mutex away from its holder.
  EXPECT_EQ(OsMutexIsHeld(kMutex), 1);

  OsMutexRelease(&first);
  EXPECT_EQ(first.handle, -1);
  EXPECT_EQ(OsMutexIsHeld(kMutex), 0);
  ASSERT_EQ(OsMutexClaim(kMutex, &second), 0);
  OsMutexRelease(&second);
}

// The state its creator gave it, kept by a later create whatever that one
// asks for, changed by a set or a reset through any handle and never
// consumed by a look.
TEST_F(NamedObjects, EveryHandleOfAnEventSeesOneState) {
  OsEvent missing;
  EXPECT_NE(OsEventOpen(kEvent, &missing), 0) << "no such event yet";
  EXPECT_EQ(missing.handle, -1);
  OsEvent first, other, second, opened, late;
  ASSERT_EQ(OsEventCreate(kEvent, true, &first), 0);
  ASSERT_EQ(OsEventCreate(kOtherEvent, false, &other), 0);
  EXPECT_EQ(OsEventIsSet(first), 1);
  EXPECT_EQ(OsEventIsSet(first), 1) << "a look leaves a manual-reset event set";
  EXPECT_EQ(OsEventIsSet(other), 0);
  ASSERT_EQ(OsEventCreate(kEvent, false, &second), 0);
  EXPECT_EQ(OsEventIsSet(second), 1) << "an existing event keeps its state";

  ASSERT_EQ(OsEventOpen(kEvent, &opened), 0);
  ASSERT_EQ(OsEventReset(opened), 0);
  EXPECT_EQ(OsEventIsSet(first), 0);
  EXPECT_EQ(OsEventIsSet(second), 0);
  EXPECT_EQ(OsEventIsSet(opened), 0);
  ASSERT_EQ(OsEventCreate(kEvent, true, &late), 0);
  EXPECT_EQ(OsEventIsSet(late), 0) << "a reset one keeps its state as well";

  ASSERT_EQ(OsEventSet(second), 0);
  ASSERT_EQ(OsEventSet(second), 0);
  EXPECT_EQ(OsEventIsSet(opened), 1) << "set twice, it is set";
  EXPECT_EQ(OsEventIsSet(late), 1);
  EXPECT_EQ(OsEventIsSet(other), 0) << "another name is another event";
  ASSERT_EQ(OsEventSet(other), 0);
  EXPECT_EQ(OsEventIsSet(other), 1);
  for (OsEvent* ev : {&first, &other, &second, &opened, &late}) {
    OsEventClose(ev);
    EXPECT_EQ(ev->handle, -1);
  }
}

// As a kernel event: gone with its last handle (the end-to-end suites kill
// the holder); created again, it starts in its initial state.
TEST_F(NamedObjects, EventNobodyHoldsIsGoneAndStartsAfresh) {
  OsEvent ev;
  ASSERT_EQ(OsEventCreate(kEvent, false, &ev), 0);
  OsEventClose(&ev);
  EXPECT_TRUE(OsErrorIsNotFound(OsEventOpen(kEvent, &ev)));
  ASSERT_EQ(OsEventCreate(kEvent, true, &ev), 0);
  EXPECT_EQ(OsEventIsSet(ev), 1) << "the reset state of a gone holder stayed";
  OsEventClose(&ev);
}

}  // namespace
