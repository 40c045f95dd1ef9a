// Grammar errors: each with its code and the line at which parsing stopped,
// and the sections the table does not describe.
#include "param_fixture.h"

namespace {

struct GrammarCase {
  const char* name;
  std::string file;
  int32_t code;
  int32_t line;
};

void PrintTo(const GrammarCase& c, std::ostream* os) { *os << c.name; }

class GrammarErrorTest : public ParamFileTest, public ::testing::WithParamInterface<GrammarCase> {};

TEST_P(GrammarErrorTest, StopsWithCodeAndLine) {
  table_ = {MakeEntry("S", "A", TYPINT, 0, 100), MakeEntry("D", "X", TYPDYN)};
  const GrammarCase& c = GetParam();
  ReadResult r = Read(c.file);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.code, c.code);
  EXPECT_EQ(r.where, c.line);
}

const GrammarCase kGrammarCases[] = {
    {"EmptyFile", "", PAREOF, 1},
    {"KeywordInLowerCase", "keyini\r\n[S]\r\nA = 1\r\n", PARNOKEYINI, 1},
    {"KeywordAloneNeedsASection", "KEYINI\r\n", PAREOF, 2},
    {"SectionWithoutOpeningBracket", "KEYINI\r\nS]\r\nA = 1\r\n", PARNOOPENBR, 2},
    {"SectionWithoutClosingBracket", "KEYINI\r\n[S\r\nA = 1\r\n", PARNOCLOSEBR, 3},
    {"HeaderAsLastThingInFile", "KEYINI\r\n[S]\r\n", PAREOF, 2},
    {"HeaderCutShortByEndOfFile", "KEYINI\r\n[S", PAREOF, 2},
    {"ValueWithoutEqualsSign", FileOfS("A\r\n  7\r\n"), PARNOEQUAL, 4},
    {"KeyNotInTable", FileOfS("A = 1\r\nZ = 2\r\n"), PARUNKNOWNKEY, 4},
    {"KeyCaseMatters", FileOfS("a = 1\r\n"), PARUNKNOWNKEY, 3},
    {"EmptySection", FileOfS("[D]\r\nq = 1\r\n"), PARUNKNOWNKEY, 3},
    {"EmptyDynamicSection", "KEYINI\r\n[D] DYNAMIC\r\n[S]\r\nA = 1\r\n", PARNOEQUAL, 3},
    {"ValueMissingAtEnd", FileOfS("A =\r\n"), PAREOF, 4},
    {"DynamicKeyFollowedByBracket", FileOfS("A = 1\r\n[D] DYNAMIC\r\nk = v\r\nS]\r\n"), PARNOEQUAL, 6},
    // A token too long, seen by a look-ahead: the reader stops at the line
    // before it.
    {"OverlongKeyAfterTheHeader", FileOfS(std::string(101, 'x') + " = 1\r\n"), PARTOKLONG, 2},
    {"OverlongKeyAfterAnEntryAndABlankLine", FileOfS("A = 1\r\n\r\n" + std::string(101, 'x') + " = 1\r\n"),
     PARTOKLONG, 3},
};

INSTANTIATE_TEST_SUITE_P(Files, GrammarErrorTest, ::testing::ValuesIn(kGrammarCases),
                         [](const auto& info) { return std::string(info.param.name); });

class SectionTest : public ParamFileTest {
 protected:
  void SetUp() override {
    ParamFileTest::SetUp();
    table_ = {MakeEntry("S", "A", TYPINT, 0, 100)};
  }
};

TEST_F(SectionTest, UndescribedSectionsAreSkippedWhereverTheyStand) {
  // Its "]" is not examined, its keys are not looked up, an overlong token in
  // it does not stop the skipping, and "[" ends it.
  ReadResult r = Read("KEYINI\r\n[OTHER\r\nQ == \"x y\" " + std::string(150, 'z') +
                      " /* c */\r\n[S]\r\nA = 7\r\n[LAST]\r\nW = 1\r\n");
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.code, PAROK);
  EXPECT_EQ(Entry(0).value.number, 7);

  // Described sections count case-sensitively, so [s] is skipped too.
  EXPECT_EQ(Read("KEYINI\r\n[s]\r\nA = 1\r\n").code, PAROK);
  EXPECT_EQ(Entry(0).value.number, 7);
}

TEST_F(SectionTest, SectionMayComeBackAndTheLastValueCounts) {
  ReadResult r = Read("KEYINI\r\n[S]\r\nA = 1\r\n[T]\r\n[S]\r\nA = 2\r\n");
  EXPECT_EQ(r.code, PAROK);
  EXPECT_EQ(Entry(0).value.number, 2);
}

TEST_F(SectionTest, FailedReadKeepsWhatWasStoredBefore) {
  ReadResult r = Read("KEYINI\r\n[S]\r\nA = 9\r\nB = 1\r\n");
  EXPECT_EQ(r.code, PARUNKNOWNKEY);
  EXPECT_EQ(Entry(0).found, 1);
  EXPECT_EQ(Entry(0).value.number, 9);
}

TEST(ParamErrorTextTest, NamesEveryResultCode) {
  EXPECT_STREQ(ParamErrorText(PARNOEQUAL), "\"=\" expected after a key");
  const int32_t codes[] = {0, -1, -2, -3, -5, -11, -12, -20, -21, -22, -23, -31, -40, -41, -50, -51};
  for (int32_t code : codes) {
    EXPECT_STRNE(ParamErrorText(code), ParamErrorText(12345)) << code;
  }
}

}  // namespace
