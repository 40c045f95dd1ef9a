// What producers write through the buffer-file module: whole lines on lines
// of their own, never cut by the service's trimming of a closing CTRL-Z.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <thread>

#include "buffile.h"
#include "os_time.h"
#include "sockio.h"
#include "test_process.h"
#include "test_support.h"

namespace {

int Append(const std::string& path, const std::string& line) {
  return BufAppendLine(path.c_str(), line.data(), line.size());
}

TEST(BufAppend, BeginsItsLineOnALineOfItsOwnAndDropsAClosingCtrlZ) {
  TempDir dir;
  std::string path = dir.Path("T1.BUF");
  // A producer that stopped half-way, or an old-style one's closing CTRL-Z.
  for (const std::string& before : {std::string("$half a line"), BufferLine("old style") + "\x1a", std::string("\x1a")}) {
    WriteFile(path, before);
    ASSERT_EQ(Append(path, BufferLine("mine")), 0);
    // The CTRL-Z becomes a line end in place; a line without one gets one.
    std::string kept = before.back() == '\x1a' ? before.substr(0, before.size() - 1) + "\n" : before + "\r\n";
    EXPECT_EQ(ReadFile(path), kept + BufferLine("mine"));
  }
}

TEST(BufAppend, CreatesFilesTheServiceCanWriteWhateverTheUmask) {
  if (TestOnWindows()) GTEST_SKIP() << "no permission bits or umask on Windows";
  TempDir dir;
  std::string path = dir.Path("T1.BUF");
  mode_t old = umask(077);
  int rc = Append(path, BufferLine("first"));
  umask(old);
  ASSERT_EQ(rc, 0);
  struct stat st{};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);
}

// The service does away with a closing CTRL-Z when it opens a file, while
// producers append: old-style ones that end each append with a CTRL-Z and
// know nothing of the lock, and put. No record may lose a byte to it.
TEST(BufAppend, TrimmingAClosingCtrlZCutsNothingAppended) {
  if (TestUnderWine())
    GTEST_SKIP() << "Wine writes at a file's end in two steps, so appends of producers without the lock may "
                    "overwrite each other there, as Windows never lets them";
  TempDir dir;
  std::string path = dir.Path("T1.BUF");
  WriteFile(path, BufferLine("seed") + "\x1a");
  constexpr int kRecords = 1500;
  std::atomic<bool> done{false};
  std::thread oldStyle([&] {
    for (int i = 0; i < kRecords; ++i) {
      OsFile f;
      if (OsFileOpenAppendExisting(path.c_str(), &f) != 0) continue;
      std::string text = BufferLine("old " + std::to_string(i)) + "\x1a";
      OsFileAppend(f, text.data(), text.size());
      OsFileClose(&f);
    }
  });
  std::thread service([&] {
    BufStream s;
    while (!done) {
      if (BufOpen(&s, path.c_str()) == 0) BufClose(&s);
    }
  });
  for (int i = 0; i < kRecords; ++i) ASSERT_EQ(Append(path, BufferLine("put " + std::to_string(i))), 0);
  oldStyle.join();
  done = true;
  service.join();
  std::string text = ReadFile(path);
  int lost = 0;
  for (int i = 0; i < kRecords; ++i) {
    for (const char* who : {"put ", "old "})
      if (text.find(BufferLine(who + std::to_string(i))) == std::string::npos) ++lost;
  }
  EXPECT_EQ(lost, 0);
}

// Waits for the watch's news as the loop does, up to ms: None when nothing
// but the loop's own changes came.
BufWatchNews NextNews(BufFolder* folder, int ms) {
  const uint64_t deadline = OsMonotonicMs() + static_cast<uint64_t>(ms);
  for (;;) {
    uint64_t now = OsMonotonicMs();
    if (now >= deadline) return BufWatchNews::None;
    bool ready = false;
    CSocketWaitAny(nullptr, 0, BufWatchOf(folder), static_cast<int32_t>(deadline - now), &ready);
    BufWatchNews news = ready ? BufWatchRead(folder) : BufWatchNews::None;
    if (news != BufWatchNews::None) return news;
  }
}

// A producer that holds its file appends just after the loop tried to
// retire it, before the loop closed it: the change is the producer's and
// must end the loop's next pause.
TEST(BufWatch, RecordAppendedWhileTheFileIsRetiredEndsThePause) {
  TempDir dir;
  BufFolder folder;
  BufFolderStart(&folder, dir.Path("T").c_str());
  ASSERT_EQ(BufWatchStart(&folder), 0);
  WriteFile(dir.Path("T1.BUF"), BufferLine("one"));
  FILE* producer = fopen(dir.Path("T1.BUF").c_str(), "ab");
  ASSERT_NE(producer, nullptr);
  BufFile f;
  ASSERT_EQ(BufFileOpen(&folder, &f, BufFilesOf(&folder, 1).back()), 0);
  uint64_t end = 0;
  ASSERT_EQ(OsFileSize(f.stream.file, &end), 0);
  EXPECT_NE(BufRetire(&folder, &f, end), BufRetirement::Removed) << "the producer holds it";
  fputs(BufferLine("two").c_str(), producer);
  fflush(producer);
  // Told by the close when the loop drained the watch while it held the
  // file, else by the watch.
  EXPECT_TRUE(BufFileClose(&folder, &f));
  EXPECT_EQ(NextNews(&folder, 3000), BufWatchNews::Changed);
  fclose(producer);
  BufFolderStop(&folder);
}

TEST(BufOpen, LeavesAClosingCtrlZWhileAProducerHoldsTheLock) {
  TempDir dir;
  std::string path = dir.Path("T1.BUF");
  WriteFile(path, BufferLine("one") + "\x1a");
  OsFile producer;
  ASSERT_EQ(OsFileOpenAppendExisting(path.c_str(), &producer), 0);
  ASSERT_EQ(OsFileLock(producer), 0);
  BufStream s;
  ASSERT_EQ(BufOpen(&s, path.c_str()), 0);
  EXPECT_EQ(ReadFile(path), BufferLine("one") + "\x1a");
  BufClose(&s);
  OsFileClose(&producer);
  ASSERT_EQ(BufOpen(&s, path.c_str()), 0);
  EXPECT_EQ(ReadFile(path), BufferLine("one") + "\n");
  BufClose(&s);
}

// A file whose records were all delivered but which its producer held
// locked stays, remembered as delivered. Found again unchanged, it goes only
// up to where it was found: a record appended right after that look stays.
TEST(BufRetire, FileFoundDeliveredGoesOnlyUpToWhereItWasFound) {
  TempDir dir;
  BufFolder folder;
  BufFolderStart(&folder, dir.Path("T").c_str());
  const std::string path = dir.Path("T1.BUF");
  WriteFile(path, BufferLine("delivered", '*'));
  BufFile f;
  ASSERT_EQ(BufFileOpen(&folder, &f, BufFilesOf(&folder, 1).back()), 0);
  uint64_t end = 0;
  ASSERT_EQ(OsFileSize(f.stream.file, &end), 0);
  OsFile producer;
  ASSERT_EQ(OsFileOpenAppendExisting(path.c_str(), &producer), 0);
  ASSERT_EQ(OsFileLock(producer), 0);
  EXPECT_EQ(BufRetire(&folder, &f, end), BufRetirement::Kept);
  OsFileClose(&producer);
  BufFileClose(&folder, &f);

  ASSERT_EQ(BufFileOpen(&folder, &f, BufFilesOf(&folder, 1).back()), 0);
  uint64_t delivered = 0;
  ASSERT_TRUE(BufDeliveredAndUnchanged(&folder, &f, &delivered));
  EXPECT_EQ(delivered, end);
  AppendFile(path, BufferLine("late"));
  EXPECT_EQ(BufRetire(&folder, &f, delivered), BufRetirement::Kept);
  BufFileClose(&folder, &f);
  EXPECT_EQ(ReadFile(path), BufferLine("delivered", '*') + BufferLine("late"));
  BufFolderStop(&folder);
}

}  // namespace
