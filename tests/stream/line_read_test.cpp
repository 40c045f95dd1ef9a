// Reading buffer files line by line: line ends, long lines, chunk edges and
// the end of the readable text.
#include <cerrno>
#include <string>

#include "stream_test_util.h"

namespace {

using LineRead = BufFileTest;

TEST_F(LineRead, CrLfBecomesLfAndPositionsCountBothBytes) {
  ASSERT_EQ(BufOpen(&s_, Make("T1.BUF", "$ab\r\nc\rd\r\n\r\n\n").c_str()), 0);
  EXPECT_EQ(BufTell(&s_), 0u);
  EXPECT_EQ(Gets(), "$ab\n");
  EXPECT_EQ(BufTell(&s_), 5u);
  EXPECT_EQ(Gets(), "c\rd\n");  // a lone CR stays
  EXPECT_EQ(BufTell(&s_), 10u);
  EXPECT_EQ(Gets(), "\n");
  EXPECT_EQ(BufTell(&s_), 12u);
  EXPECT_EQ(Gets(), "\n");  // an LF alone is a line end as well
  EXPECT_EQ(BufTell(&s_), 13u);
  EXPECT_FALSE(BufEof(&s_));

  // Ending in a line end, the end is met only by the next read.
  EXPECT_EQ(Gets(), "");
  EXPECT_EQ(lastCount_, 0);
  EXPECT_TRUE(BufEof(&s_));
  EXPECT_EQ(BufError(&s_), 0);
  EXPECT_EQ(BufTell(&s_), 13u);

  // A seek clears the end and rereads from the very byte.
  BufSeek(&s_, 6);
  EXPECT_FALSE(BufEof(&s_));
  EXPECT_EQ(Gets(), "\rd\n");
}

TEST_F(LineRead, LongLinesComeInPiecesOf550) {
  std::string a(600, 'a'), b(549, 'b'), c(550, 'c');
  ASSERT_EQ(BufOpen(&s_, Make("T1.BUF", "$" + a + "\r\n" + b + "\r\n" + c + "\r\n").c_str()), 0);

  EXPECT_EQ(Gets(), '$' + a.substr(0, 549));
  EXPECT_EQ(lastCount_, 550);
  EXPECT_EQ(BufTell(&s_), 550u);
  EXPECT_EQ(Gets(), a.substr(549) + "\n");
  EXPECT_EQ(lastCount_, 52);
  EXPECT_EQ(BufTell(&s_), 603u);

  // 549 characters and CR LF fill one line of 550 exactly.
  EXPECT_EQ(Gets(), b + "\n");
  EXPECT_EQ(BufTell(&s_), 603u + 551u);
  // 550 characters leave the CR LF to a piece of its own.
  EXPECT_EQ(Gets(), c);
  EXPECT_EQ(BufTell(&s_), 603u + 551u + 550u);
  EXPECT_EQ(Gets(), "\n");
  EXPECT_EQ(BufTell(&s_), 603u + 551u + 552u);
  EXPECT_FALSE(BufEof(&s_));

  // A small line buffer works the same way.
  BufSeek(&s_, 0);
  EXPECT_EQ(Gets(4), "$aa");
  EXPECT_EQ(Gets(1), "");
  EXPECT_EQ(BufTell(&s_), 3u);
}

TEST_F(LineRead, CrLfAcrossAChunkEdge) {
  // Lines of 100 bytes put a CR at the last byte of the first chunk and its
  // LF at the first byte of the next; a lone CR sits on the next edge.
  static_assert(BUF_READ_CHUNK == 8192);
  std::string bytes;
  for (int i = 0; i < 81; ++i) bytes += std::string(98, 'x') + "\r\n";  // up to 8100
  bytes += '$' + std::string(90, 'e') + "\r\n";                         // CR at 8191
  while (bytes.size() < 2 * BUF_READ_CHUNK - 1) bytes += 'y';
  bytes += "\rz\r\n";  // lone CR at 16383
  ASSERT_EQ(bytes[8191], '\r');
  ASSERT_EQ(bytes[8192], '\n');
  ASSERT_EQ(bytes[16383], '\r');
  ASSERT_EQ(BufOpen(&s_, Make("T1.BUF", bytes).c_str()), 0);

  for (int i = 0; i < 81; ++i) ASSERT_EQ(Gets(), std::string(98, 'x') + "\n") << i;
  EXPECT_EQ(BufTell(&s_), 8100u);
  EXPECT_EQ(Gets(), '$' + std::string(90, 'e') + "\n");
  EXPECT_EQ(BufTell(&s_), 8193u);

  std::string rest;
  for (std::string piece = Gets(); lastCount_ > 0; piece = Gets()) rest += piece;
  EXPECT_EQ(rest, std::string(16383 - 8193, 'y') + "\rz\n");
  EXPECT_EQ(BufTell(&s_), bytes.size());
}

TEST_F(LineRead, CrLfSplitAcrossA550PieceAndAChunkEdge) {
  // A first line of 491 bytes puts 14 pieces of 550 of the second line right
  // before its CR, which is also the last byte of the first chunk.
  std::string bytes = '$' + std::string(488, 'p') + "\r\n" + std::string(7700, 'q') + "\r\n";
  ASSERT_EQ(bytes.substr(8191, 2), "\r\n");
  ASSERT_EQ(BufOpen(&s_, Make("T1.BUF", bytes).c_str()), 0);
  EXPECT_EQ(Gets(), '$' + std::string(488, 'p') + "\n");
  for (int i = 0; i < 14; ++i) ASSERT_EQ(Gets(), std::string(550, 'q')) << i;
  EXPECT_EQ(BufTell(&s_), 8191u);
  EXPECT_FALSE(BufEof(&s_));
  EXPECT_EQ(Gets(), "\n");
  EXPECT_EQ(BufTell(&s_), 8193u);
  EXPECT_EQ(Gets(), "");
  EXPECT_TRUE(BufEof(&s_));
}

TEST_F(LineRead, LastLineWithoutLineEndSetsEofWithIt) {
  ASSERT_EQ(BufOpen(&s_, Make("T1.BUF", "$one\r\n$last").c_str()), 0);
  EXPECT_EQ(Gets(), "$one\n");
  EXPECT_FALSE(BufEof(&s_));
  EXPECT_EQ(Gets(), "$last");
  EXPECT_TRUE(BufEof(&s_));
  EXPECT_EQ(BufTell(&s_), 11u);
  EXPECT_EQ(Gets(), "");
  EXPECT_EQ(lastCount_, 0);
}

TEST_F(LineRead, EmptyFileIsAtItsEndAtOnce) {
  ASSERT_EQ(BufOpen(&s_, Make("T1.BUF", "").c_str()), 0);
  EXPECT_EQ(Gets(), "");
  EXPECT_EQ(lastCount_, 0);
  EXPECT_TRUE(BufEof(&s_));
  EXPECT_EQ(BufError(&s_), 0);
}

TEST_F(LineRead, CtrlZLastBecomesALineEndAndCtrlZInsideEndsTheText) {
  std::string last = Make("T1.BUF", "$a\r\n$b\r\n\x1a");
  ASSERT_EQ(BufOpen(&s_, last.c_str()), 0);
  // Gone from the file, not just hidden, and overwritten rather than cut.
  EXPECT_EQ(ReadFile(last), "$a\r\n$b\r\n\n");
  EXPECT_EQ(Gets(), "$a\n");
  EXPECT_EQ(Gets(), "$b\n");
  EXPECT_EQ(Gets(), "\n");
  EXPECT_EQ(Gets(), "");
  EXPECT_TRUE(BufEof(&s_));
  ASSERT_EQ(BufClose(&s_), 0);

  std::string inside = Make("T2.BUF", "$a\r\n$b\x1a$c\r\n\x1a\x1a");
  ASSERT_EQ(BufOpen(&s_, inside.c_str()), 0);
  EXPECT_EQ(ReadFile(inside), "$a\r\n$b\x1a$c\r\n\x1a\n");  // only the very last byte
  EXPECT_EQ(Gets(), "$a\n");
  EXPECT_EQ(Gets(), "$b");
  EXPECT_TRUE(BufEof(&s_));
  EXPECT_EQ(BufTell(&s_), 6u);
  EXPECT_EQ(Gets(), "");  // the text stays ended
  EXPECT_EQ(BufTell(&s_), 6u);

  // A CR before a CTRL-Z is a lone CR.
  ASSERT_EQ(BufClose(&s_), 0);
  ASSERT_EQ(BufOpen(&s_, Make("T3.BUF", "x\r\x1a\n").c_str()), 0);
  EXPECT_EQ(Gets(), "x\r");
  EXPECT_TRUE(BufEof(&s_));
}

TEST_F(LineRead, ReadErrorYieldsNothingAndKeepsThePosition) {
  // The stream's file is swapped for the same file opened write-only, so the
  // next fetch from it fails for real.
  std::string path = Make("T1.BUF", std::string(10000, 'x') + "\r\n");
  ASSERT_EQ(BufOpen(&s_, path.c_str()), 0);
  for (int i = 0; i < 14; ++i) ASSERT_EQ(Gets().size(), 550u);
  ASSERT_EQ(BufTell(&s_), 7700u);

  OsFile saved = s_.file;
  OsFile writeOnly;
  ASSERT_EQ(OsFileOpenAppend(path.c_str(), &writeOnly), 0);
  s_.file = writeOnly;

  EXPECT_EQ(Gets(), "");  // the cached part up to the chunk's end is not handed out
  EXPECT_EQ(lastCount_, 0);
  EXPECT_NE(BufError(&s_), 0);
  EXPECT_FALSE(BufEof(&s_));
  EXPECT_EQ(BufTell(&s_), 7700u);

  s_.file = saved;
  OsFileClose(&writeOnly);
  EXPECT_EQ(Gets(), std::string(550, 'x'));
  EXPECT_EQ(BufError(&s_), 0);
  EXPECT_EQ(BufTell(&s_), 8250u);
}

}  // namespace
