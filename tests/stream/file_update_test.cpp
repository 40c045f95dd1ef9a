// Opening buffer files for update, marks written through, and a producer
// appending while the file is read.
#include <filesystem>

#include <cerrno>
#include <string>

#include "stream_test_util.h"

namespace {

using FileUpdate = BufFileTest;

TEST_F(FileUpdate, AbsentReadOnlyAndNonFilesAreRefused) {
  EXPECT_EQ(BufOpen(&s_, dir.Path("T9.BUF").c_str()), ENOENT);
  EXPECT_EQ(s_.file.handle, -1);

  // Without any write permission bit (read-only attribute on Windows) the
  // file is refused, root included.
  std::string ro = Make("T1.BUF", "$a\r\n\x1a");
  std::filesystem::permissions(ro, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                       std::filesystem::perms::others_read);
  EXPECT_NE(BufOpen(&s_, ro.c_str()), 0);
  EXPECT_EQ(s_.file.handle, -1);
  EXPECT_EQ(ReadFile(ro), "$a\r\n\x1a");  // nor was its CTRL-Z touched

  EXPECT_NE(BufOpen(&s_, dir.path.c_str()), 0);
  EXPECT_EQ(s_.file.handle, -1);
}

TEST_F(FileUpdate, MarkIsOnDiskAtOnceAndReadsStayCoherent) {
  std::string path = Make("T1.BUF", "$one\r\n$two\r\n$three\r\n");
  ASSERT_EQ(BufOpen(&s_, path.c_str()), 0);
  uint64_t start = BufTell(&s_);
  EXPECT_EQ(Gets(), "$one\n");
  ASSERT_EQ(BufWriteAt(&s_, start, '*'), 0);
  EXPECT_EQ(BufTell(&s_), 6u);  // a write does not move the read position
  EXPECT_EQ(ReadFile(path), "*one\r\n$two\r\n$three\r\n");

  // Marking a line that is cached but not read yet.
  ASSERT_EQ(BufWriteAt(&s_, 12, '*'), 0);
  EXPECT_EQ(Gets(), "$two\n");
  EXPECT_EQ(Gets(), "*three\n");

  BufSeek(&s_, 0);
  EXPECT_EQ(Gets(), "*one\n");
  EXPECT_EQ(ReadFile(path), "*one\r\n$two\r\n*three\r\n");
}

TEST_F(FileUpdate, BytesAppendedAfterTheEndAreReadAfterASeek) {
  std::string path = Make("T1.BUF", "$one\r\n");
  ASSERT_EQ(BufOpen(&s_, path.c_str()), 0);
  EXPECT_EQ(Gets(), "$one\n");
  EXPECT_EQ(Gets(), "");
  ASSERT_TRUE(BufEof(&s_));

  AppendFile(path, "$two\r\n$thr");
  BufSeek(&s_, BufTell(&s_));
  EXPECT_EQ(Gets(), "$two\n");
  EXPECT_EQ(Gets(), "$thr");
  EXPECT_TRUE(BufEof(&s_));

  // A line completed meanwhile is read whole from its start.
  AppendFile(path, "ee\r\n");
  BufSeek(&s_, 12);
  EXPECT_EQ(Gets(), "$three\n");
  EXPECT_EQ(BufTell(&s_), 20u);

  // Also beyond a full chunk of earlier content.
  AppendFile(path, std::string(BUF_READ_CHUNK, 'x') + "\r\n$four\r\n");
  BufSeek(&s_, BufTell(&s_));
  std::string all;
  for (std::string piece = Gets(); lastCount_ > 0; piece = Gets()) all += piece;
  EXPECT_EQ(all, std::string(BUF_READ_CHUNK, 'x') + "\n$four\n");
}

TEST_F(FileUpdate, StreamIsReusableAfterClose) {
  ASSERT_EQ(BufOpen(&s_, Make("T1.BUF", "$one\r\n").c_str()), 0);
  EXPECT_EQ(Gets(), "$one\n");
  EXPECT_EQ(Gets(), "");
  ASSERT_EQ(BufClose(&s_), 0);
  EXPECT_EQ(s_.file.handle, -1);
  EXPECT_EQ(BufClose(&s_), 0);  // closing twice is harmless

  ASSERT_EQ(BufOpen(&s_, Make("T2.BUF", "$other\r\n").c_str()), 0);
  EXPECT_EQ(BufTell(&s_), 0u);
  EXPECT_FALSE(BufEof(&s_));
  EXPECT_EQ(Gets(), "$other\n");  // nothing of the first file's chunk is left
}

}  // namespace
