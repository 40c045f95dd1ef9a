// Values: accepted or rejected by type and bounds, and what is stored.
#include "param_fixture.h"

namespace {

class ValuesTest : public ParamFileTest {
 protected:
  void SetUp() override {
    ParamFileTest::SetUp();
    table_ = {
        MakeEntry("S", "STR", TYPSTRING, 1, 5),      MakeEntry("S", "CH", TYPCHAR),
        MakeEntry("S", "FLAG", TYPBOOL),             MakeEntry("S", "NUM", TYPINT, 10, 100),
        MakeEntry("S", "BIG", TYPLONG, 0, 4e9),      MakeEntry("S", "REAL", TYPDOUBLE, 0.5, 10),
        MakeEntry("S", "ODD", -7),
    };
  }

  // found, valid and content after reading one "KEY = text" line.
  void ExpectRead(size_t index, const std::string& text, int32_t valid) {
    for (ParamEntry& e : table_) {
      std::memset(&e.content, 0, sizeof e.content);
      std::memset(&e.value, 0, sizeof e.value);
      e.found = e.valid = 0;
    }
    ReadResult r = Read(FileOfS(std::string(Entry(index).paramToken) + " = " + text + "\r\n"));
    ASSERT_EQ(r.code, PAROK) << text;
    EXPECT_EQ(Entry(index).found, 1) << text;
    EXPECT_EQ(Entry(index).valid, valid) << text;
    EXPECT_EQ(std::string(Entry(index).content), text);
  }
};

TEST_F(ValuesTest, StringLengthWithinBounds) {
  ExpectRead(0, "a", 1);
  EXPECT_STREQ(Entry(0).value.text, "a");
  ExpectRead(0, "abcde", 1);
  EXPECT_STREQ(Entry(0).value.text, "abcde");
  ExpectRead(0, "abcdef", 0);
  EXPECT_STREQ(Entry(0).value.text, "");
}

TEST_F(ValuesTest, CharIsExactlyOneCharacter) {
  ExpectRead(1, "x", 1);
  EXPECT_EQ(Entry(1).value.ch, 'x');
  ExpectRead(1, "xy", 0);
}

TEST_F(ValuesTest, BoolIsUpperCaseTrueOrFalse) {
  ExpectRead(2, "TRUE", 1);
  EXPECT_EQ(Entry(2).value.number, 1);
  ExpectRead(2, "FALSE", 1);
  EXPECT_EQ(Entry(2).value.number, 0);
  ExpectRead(2, "true", 0);
  ExpectRead(2, "1", 0);
}

TEST_F(ValuesTest, IntegersAreDigitsWithinBoundsAndWithin32Bits) {
  ExpectRead(3, "10", 1);
  EXPECT_EQ(Entry(3).value.number, 10);
  ExpectRead(3, "0100", 1);
  EXPECT_EQ(Entry(3).value.number, 100);
  ExpectRead(3, "101", 0);
  ExpectRead(3, "9", 0);
  ExpectRead(3, "-50", 0);
  ExpectRead(3, "+50", 0);
  ExpectRead(3, "5x", 0);

  ExpectRead(4, "2147483647", 1);
  EXPECT_EQ(Entry(4).value.number, INT32_MAX);
  // Inside the caller's bounds but not representable: never wrapped.
  ExpectRead(4, "2147483648", 0);
  EXPECT_EQ(Entry(4).value.number, 0);
  ExpectRead(4, "4294967297", 0);
  ExpectRead(4, std::string(100, '9'), 0);
}

TEST_F(ValuesTest, DoublesAreDigitsAndPointsStoppingAtTheSecondPoint) {
  ExpectRead(5, "2.5", 1);
  EXPECT_DOUBLE_EQ(Entry(5).value.real, 2.5);
  ExpectRead(5, "1.2.3", 1);
  EXPECT_DOUBLE_EQ(Entry(5).value.real, 1.2);
  ExpectRead(5, ".75", 1);
  EXPECT_DOUBLE_EQ(Entry(5).value.real, 0.75);
  ExpectRead(5, "10.", 1);
  EXPECT_DOUBLE_EQ(Entry(5).value.real, 10.0);
  ExpectRead(5, "10.01", 0);
  ExpectRead(5, ".", 0);  // converts to 0, below the lower bound
  ExpectRead(5, "1e1", 0);
  ExpectRead(5, "-1", 0);
}

TEST_F(ValuesTest, UnknownTypeKeepsOnlyTheText) {
  ExpectRead(6, "anything", 0);
}

TEST_F(ValuesTest, KeyGivenTwiceKeepsTheLastAcceptedValue) {
  ReadResult r = Read(FileOfS("NUM = 42\r\nNUM = 7\r\n"));
  EXPECT_EQ(r.code, PAROK);
  EXPECT_EQ(Entry(3).valid, 1);
  EXPECT_EQ(Entry(3).value.number, 42);
  EXPECT_STREQ(Entry(3).content, "7");
}

TEST_F(ValuesTest, FirstMatchingEntryTakesTheValue) {
  table_.push_back(MakeEntry("S", "NUM", TYPSTRING, 0, 100));
  ReadResult r = Read(FileOfS("NUM = 55\r\n"));
  EXPECT_EQ(r.code, PAROK);
  EXPECT_EQ(Entry(3).value.number, 55);
  EXPECT_EQ(Entry(7).found, 0);
}

TEST_F(ValuesTest, DelimiterCanBeAValue) {
  ReadResult r = Read(FileOfS("CH = ]\r\n"));
  EXPECT_EQ(r.code, PAROK);
  EXPECT_EQ(Entry(1).value.ch, ']');
}

}  // namespace
