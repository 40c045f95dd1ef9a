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

// A file, where the reader stopped and what the keys A and B of section S
// hold afterwards: their text, or "-" when the file never gave them one.
struct TokenCase {
  const char* name;
  std::string file;
  int32_t code;
  int32_t line;  // 888, the fixture's mark for a position nobody set, after a good read
  std::string a, b;
};

void PrintTo(const TokenCase& c, std::ostream* os) { *os << c.name; }

class TokenFileTest : public TokensTest, public ::testing::WithParamInterface<TokenCase> {};

TEST_P(TokenFileTest, StopsWhereItShouldAndStoresWhatItRead) {
  const TokenCase& c = GetParam();
  ReadResult r = Read(c.file);
  EXPECT_EQ(r.result, c.code == PAROK ? 1 : 0);
  EXPECT_EQ(r.code, c.code);
  EXPECT_EQ(r.where, c.line);
  auto held = [](const ParamEntry& e) { return e.found ? std::string(e.content) : "-"; };
  EXPECT_EQ(held(Entry(0)), c.a);
  EXPECT_EQ(held(Entry(1)), c.b);
  for (const ParamEntry& e : table_) EXPECT_STREQ(e.value.text, e.valid ? e.content : "") << e.paramToken;
}

const std::string kHundred(100, 'v'), kHundredOne(101, 'v');

const TokenCase kTokenCases[] = {
    {"DelimitersEndTokensAndNeedNoBlanks", "KEYINI[S]A=x\tB\f=\vy ", PAROK, 888, "x", "y"},
    // A token has at most a hundred characters: any byte after the 101st
    // gives -12, a blank as well as a delimiter; the end of the file there
    // gives -11.
    {"HundredCharactersMakeAToken", FileOfS("A = " + kHundred + "\r\n"), PAROK, 888, kHundred, "-"},
    {"TokenTooLongBeforeABlank", FileOfS("A = " + kHundredOne + " \r\n"), PARTOKLONG, 3, "-", "-"},
    {"TokenTooLongBeforeADelimiter", FileOfS("B = 1\r\nA = " + kHundredOne + "=\r\n"), PARTOKLONG, 4, "-", "1"},
    {"TokenTooLongAtTheEnd", FileOfS("A = " + kHundredOne), PAREOF, 3, "-", "-"},
    // "**/" closes a block comment; the text after it is read as tokens again.
    {"BlockCommentEndsAtStarSlash", FileOfS("/* note\r\n spanning ** lines **/ A = 1\r\nB = 2\r\n"), PAROK, 888,
     "1", "2"},
    // Closing text inside the opening token does not close the comment: A is
    // inside it, only B is read.
    {"StarSlashInTheOpeningTokenClosesNothing", FileOfS("/*x*/ A = 1 */ B = 2\r\n"), PAROK, 888, "-", "2"},
    {"LineCommentEndsAtCarriageReturnLineFeed", FileOfS("//----------\r\nA = 1\r\n"), PAROK, 888, "1", "-"},
    // A lone LF continues the comment (swallowing A), CR CR LF ends it.
    {"LineCommentGoesOnOverALoneLineFeed", FileOfS("// one\nA = 1\r\r\nB = 2\r\n"), PAROK, 888, "-", "2"},
    // Between key and "=", as a value (the next token is the value), several
    // in a row, and as the file's last line.
    {"CommentsStandWhereverATokenMay",
     "KEYINI /* a */ // b\r\n[ /* n */ S ]\r\nA /* c */ = //x\r\n/* d */ v1\r\nB = v2 // end\r\n", PAROK, 888, "v1",
     "v2"},
    {"EveryLineFeedCountsIncludingThoseInComments", FileOfS("/* 3\r\n4\n5\r\n*/ // 6\r\n// 7\n8\r\nX = 1\r\n"),
     PARUNKNOWNKEY, 9, "-", "-"},
    // Where a token is required, an open comment is a premature end; after
    // an entry it only ends the file.
    {"OpenCommentWhereASectionNeedsAnEntry", "KEYINI\r\n[S]\r\n/* open\r\n", PAREOF, 2, "-", "-"},
    {"OpenCommentBeforeTheEqualsSign", FileOfS("A /* open\r\n= 1\r\n"), PAREOF, 5, "-", "-"},
    {"OpenCommentAfterAnEntry", FileOfS("A = 1\r\n/* open\r\n"), PAROK, 888, "1", "-"},
    {"LineCommentWithoutLineEndAfterAnEntry", FileOfS("A = 1\r\n// last"), PAROK, 888, "1", "-"},
    {"LineCommentAsTheLastLine", FileOfS("A = 1\r\n// last\r\n"), PAROK, 888, "1", "-"},
    // The last value must be followed by a blank or a line end. A word that
    // runs into the end of the file is ignored; with a line end after it, it
    // is a key.
    {"BlankAfterTheLastValue", FileOfS("A = 1 "), PAROK, 888, "1", "-"},
    {"LastValueRunningIntoTheEnd", FileOfS("A = 1"), PAREOF, 3, "-", "-"},
    {"WordRunningIntoTheEnd", FileOfS("A = 1\r\nstray"), PAROK, 888, "1", "-"},
    {"WordWithALineEndIsAKey", FileOfS("A = 1\r\nstray\r\n"), PARUNKNOWNKEY, 4, "1", "-"},
};

INSTANTIATE_TEST_SUITE_P(Files, TokenFileTest, ::testing::ValuesIn(kTokenCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TokensTest, OverlongValueLeavesTheEarlierOneAndOverflowsNothing) {
  ASSERT_EQ(Read(FileOfS("A = " + kHundred + "\r\n")).code, PAROK);
  ReadResult r = Read(FileOfS("A = " + std::string(5000, 'w') + "\r\n"));
  EXPECT_EQ(r.code, PARTOKLONG);
  EXPECT_EQ(std::string(Entry(0).content), kHundred) << "earlier value kept, nothing overflowed";
}

}  // namespace
