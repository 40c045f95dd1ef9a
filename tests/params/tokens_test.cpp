// Tokens, delimiters and comments as the reader sees them in real files.
#include "param_fixture.h"

namespace {

class TokensTest : public ParamFileTest {
 protected:
  void SetUp() override {
    ParamFileTest::SetUp();
    table_ = {MakeEntry("S", "A", TYPSTRING, 0, 100), MakeEntry("S", "B", TYPSTRING, 0, 100)};
  }
};

TEST_F(TokensTest, DelimitersEndTokensAndNeedNoBlanks) {
  ReadResult r = Read("KEYINI[S]A=x\tB\f=\vy ");
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.code, PAROK);
  EXPECT_STREQ(Entry(0).value.text, "x");
  EXPECT_STREQ(Entry(1).value.text, "y");
}

TEST_F(TokensTest, TokenLengthLimitIsHundredCharacters) {
  std::string hundred(100, 'v');
  std::string hundredOne(101, 'v');
  ReadResult r = Read(FileOfS("A = " + hundred + "\r\n"));
  EXPECT_EQ(r.code, PAROK);
  EXPECT_EQ(std::string(Entry(0).content), hundred);
  EXPECT_EQ(std::string(Entry(0).value.text), hundred);

  // Any byte after the 101st character gives -12, a blank as well as a
  // delimiter; the end of the file there gives -11.
  r = Read(FileOfS("A = " + hundredOne + " \r\n"));
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.code, PARTOKLONG);
  EXPECT_EQ(r.where, 3);
  r = Read(FileOfS("B = 1\r\nA = " + hundredOne + "=\r\n"));
  EXPECT_EQ(r.code, PARTOKLONG);
  EXPECT_EQ(r.where, 4);
  r = Read(FileOfS("A = " + hundredOne));
  EXPECT_EQ(r.code, PAREOF);
  EXPECT_EQ(r.where, 3);
  r = Read(FileOfS("A = " + std::string(5000, 'w') + "\r\n"));
  EXPECT_EQ(r.code, PARTOKLONG);
  EXPECT_EQ(std::string(Entry(0).content), hundred) << "earlier value kept, nothing overflowed";
}

TEST_F(TokensTest, BlockCommentsEndAtTheFirstStarSlashAfterTheOpeningToken) {
  // "**/" closes; the text after it is read as tokens again.
  ReadResult r = Read(FileOfS("/* note\r\n spanning ** lines **/ A = 1\r\nB = 2\r\n"));
  EXPECT_EQ(r.code, PAROK);
  EXPECT_STREQ(Entry(0).value.text, "1");
  EXPECT_STREQ(Entry(1).value.text, "2");

  // Closing text inside the opening token does not close the comment: A is
  // inside it, only B is read.
  table_ = {MakeEntry("S", "A", TYPSTRING, 0, 100), MakeEntry("S", "B", TYPSTRING, 0, 100)};
  r = Read(FileOfS("/*x*/ A = 1 */ B = 2\r\n"));
  EXPECT_EQ(r.code, PAROK);
  EXPECT_EQ(Entry(0).found, 0);
  EXPECT_STREQ(Entry(1).value.text, "2");
}

TEST_F(TokensTest, LineCommentsEndOnlyAtCarriageReturnLineFeed) {
  ReadResult r = Read(FileOfS("//----------\r\nA = 1\r\n"));
  EXPECT_EQ(r.code, PAROK);
  EXPECT_STREQ(Entry(0).value.text, "1");

  // A lone LF continues the comment (swallowing A), CR CR LF ends it.
  table_ = {MakeEntry("S", "A", TYPSTRING, 0, 100), MakeEntry("S", "B", TYPSTRING, 0, 100)};
  r = Read(FileOfS("// one\nA = 1\r\r\nB = 2\r\n"));
  EXPECT_EQ(r.code, PAROK);
  EXPECT_EQ(Entry(0).found, 0);
  EXPECT_STREQ(Entry(1).value.text, "2");
}

TEST_F(TokensTest, CommentsStandWhereverATokenMay) {
  // Between key and "=", as a value (the next token is the value), several
  // in a row, and as the file's last line.
  ReadResult r = Read(
      "KEYINI /* a */ // b\r\n[ /* n */ S ]\r\nA /* c */ = //x\r\n/* d */ v1\r\n"
      "B = v2 // end\r\n");
  EXPECT_EQ(r.code, PAROK);
  EXPECT_STREQ(Entry(0).content, "v1");
  EXPECT_STREQ(Entry(1).content, "v2");
}

TEST_F(TokensTest, EveryLineFeedCountsIncludingThoseInComments) {
  ReadResult r = Read(FileOfS("/* 3\r\n4\n5\r\n*/ // 6\r\n// 7\n8\r\nX = 1\r\n"));
  EXPECT_EQ(r.code, PARUNKNOWNKEY);
  EXPECT_EQ(r.where, 9);
}

TEST_F(TokensTest, EndOfFileInsideComments) {
  // Where a token is required, an open comment is a premature end.
  ReadResult r = Read("KEYINI\r\n[S]\r\n/* open\r\n");
  EXPECT_EQ(r.code, PAREOF);
  EXPECT_EQ(r.where, 2);
  r = Read(FileOfS("A /* open\r\n= 1\r\n"));
  EXPECT_EQ(r.code, PAREOF);

  // After an entry it only ends the file.
  r = Read(FileOfS("A = 1\r\n/* open\r\n"));
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.code, PAROK);
  r = Read(FileOfS("A = 1\r\n// last"));
  EXPECT_EQ(r.code, PAROK);
  r = Read(FileOfS("A = 1\r\n// last\r\n"));
  EXPECT_EQ(r.code, PAROK);
}

TEST_F(TokensTest, EndOfFileAfterTheLastValue) {
  EXPECT_EQ(Read(FileOfS("A = 1 ")).code, PAROK);
  EXPECT_EQ(Read(FileOfS("A = 1")).code, PAREOF);
  // A word that runs into the end of the file is ignored; with a line end
  // after it, it is a key.
  EXPECT_EQ(Read(FileOfS("A = 1\r\nstray")).code, PAROK);
  ReadResult r = Read(FileOfS("A = 1\r\nstray\r\n"));
  EXPECT_EQ(r.code, PARUNKNOWNKEY);
  EXPECT_EQ(r.where, 4);
}

}  // namespace
