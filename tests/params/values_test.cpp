// Values: accepted or rejected by type and bounds, and what is stored.
#include "param_fixture.h"

namespace {

// One entry of ValuesTest's table and what it makes of the texts a file
// gives it, each read alone: the accepted ones with the value stored, the
// rejected ones, which store nothing.
struct TypeCase {
  const char* key;
  std::vector<std::pair<std::string, ExpectedValue>> accepted;
  std::vector<std::string> rejected;
};

void PrintTo(const TypeCase& c, std::ostream* os) { *os << c.key; }

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
};

class TypeTest : public ValuesTest, public ::testing::WithParamInterface<TypeCase> {
 protected:
  // The entry after reading one "KEY = text" line into a table cleared of
  // everything read before.
  const ParamEntry& ReadOne(const std::string& text) {
    size_t index = 0;
    while (std::string(Entry(index).paramToken) != GetParam().key) ++index;
    for (ParamEntry& e : table_) {
      std::memset(&e.content, 0, sizeof e.content);
      std::memset(&e.value, 0, sizeof e.value);
      e.found = e.valid = 0;
    }
    ReadResult r = Read(FileOfS(std::string(GetParam().key) + " = " + text + "\r\n"));
    EXPECT_EQ(r.code, PAROK);
    EXPECT_EQ(Entry(index).found, 1);
    EXPECT_EQ(std::string(Entry(index).content), text);
    return Entry(index);
  }
};

TEST_P(TypeTest, AcceptsItsTextsAndStoresNothingOfOthers) {
  for (const auto& [text, value] : GetParam().accepted) {
    SCOPED_TRACE("accepted: " + text);
    const ParamEntry& e = ReadOne(text);
    EXPECT_EQ(e.valid, 1);
    ExpectValue(e, value);
  }
  const ParamValue nothing{};
  for (const std::string& text : GetParam().rejected) {
    SCOPED_TRACE("rejected: " + text);
    const ParamEntry& e = ReadOne(text);
    EXPECT_EQ(e.valid, 0);
    EXPECT_EQ(std::memcmp(&e.value, &nothing, sizeof nothing), 0) << "a value was stored";
  }
}

const TypeCase kTypeCases[] = {
    {"STR", {{"a", "a"}, {"abcde", "abcde"}}, {"abcdef"}},  // length 1 to 5
    {"CH", {{"x", 'x'}}, {"xy"}},                           // exactly one character
    {"FLAG", {{"TRUE", 1}, {"FALSE", 0}}, {"true", "1"}},   // upper case only
    // Digits only, within the bounds 10 to 100.
    {"NUM", {{"10", 10}, {"0100", 100}}, {"101", "9", "-50", "+50", "5x"}},
    // Inside the caller's bounds (up to 4e9) but beyond 32 bits: never wrapped.
    {"BIG", {{"2147483647", INT32_MAX}}, {"2147483648", "4294967297", std::string(100, '9')}},
    // Digits and points, the number stopping at the second point; bounds 0.5
    // to 10. "." converts to 0, below the lower bound.
    {"REAL", {{"2.5", 2.5}, {"1.2.3", 1.2}, {".75", 0.75}, {"10.", 10.0}}, {"10.01", ".", "1e1", "-1"}},
    // A type the reader does not know keeps only the text.
    {"ODD", {}, {"anything"}},
};

INSTANTIATE_TEST_SUITE_P(Types, TypeTest, ::testing::ValuesIn(kTypeCases),
                         [](const auto& info) { return std::string(info.param.key); });

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
