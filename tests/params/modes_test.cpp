// Modes, their order, the check of mandatory parameters and the defaults.
#include "param_fixture.h"

namespace {

class ModesTest : public ParamFileTest {};

TEST_F(ModesTest, WithoutAModeBitNothingHappens) {
  for (int32_t modes : {0, 16, 32 | 64}) {
    ReadResult r = ReadPath("/nonexistent", modes);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.code, PARNOMODE);
    EXPECT_EQ(r.where, 888);
  }
}

TEST_F(ModesTest, FileProblemsLeaveThePositionAlone) {
  table_ = {MakeEntry("S", "A", TYPINT, 0, 10)};
  ReadResult r = ReadPath(dir.Path("missing.ini").c_str(), PARREAD);
  EXPECT_EQ(r.code, PARNOOPEN);
  EXPECT_EQ(r.where, 888);
  // A folder is no file.
  r = ReadPath(dir.path.c_str(), PARREAD);
  EXPECT_EQ(r.code, PARNOOPEN);
  r = ReadPath(nullptr, PARREAD | PARCHECK);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.code, PARNOPATH);
  EXPECT_EQ(r.where, 888);
  // PARFILEMAX bytes are read; one more and the file is not taken at all.
  std::string body = FileOfS("A = 5\r\n// ");
  body += std::string(PARFILEMAX - body.size() - 2, 'c') + "\r\n";
  EXPECT_EQ(Read(body).code, PAROK);
  r = Read(body + " ");
  EXPECT_EQ(r.code, PARNOOPEN);
  EXPECT_EQ(r.where, 888);
}

TEST_F(ModesTest, CheckNamesTheFirstEntryThatFails) {
  table_ = {MakeEntry("S", "A", TYPINT, 0, 10, 1, 0), MakeEntry("S", "B", TYPINT, 0, 10, 1, 0)};
  ReadResult r = ReadPath(nullptr, PARCHECK);
  EXPECT_EQ(r.code, PARINVALID) << "optional alone still needs onError";
  EXPECT_EQ(r.where, 0);

  table_ = {MakeEntry("S", "A", TYPINT, 0, 10, 0, 1, "4"), MakeEntry("S", "B", TYPINT, 0, 10)};
  r = Read(FileOfS("A = 11\r\n"), PARREAD | PARCHECK);
  EXPECT_EQ(r.code, PARMISSING);
  EXPECT_EQ(r.where, 1);
  EXPECT_EQ(Entry(0).value.number, 4) << "defaults before the failing entry are applied";
  EXPECT_EQ(Entry(0).valid, 0) << "flags stay as read";

  r = Read(FileOfS("A = 11\r\nB = 11\r\n"), PARREAD | PARCHECK);
  EXPECT_EQ(r.code, PARINVALID);
  EXPECT_EQ(r.where, 1);

  r = Read(FileOfS("B = 2\r\n"), PARREAD | PARCHECK);
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.code, PAROK);
  EXPECT_EQ(r.where, 888);
}

// An optional entry of [S] whose default stands in for a missing or
// rejected value.
ParamEntry WithDefault(const char* key, int32_t type, double maxValue, const char* text) {
  return MakeEntry("S", key, type, 0, maxValue, 1, 1, text);
}

TEST_F(ModesTest, DefaultsAreConvertedByType) {
  const std::string longText(150, 'd');
  struct DefaultCase {
    ParamEntry entry;
    ExpectedValue value;
    const char* why = "";
  };
  const DefaultCase cases[] = {
      {WithDefault("STR", TYPSTRING, 3, longText.c_str()), std::string(100, 'd'), "cut at 100"},
      {WithDefault("CH", TYPCHAR, 0, "yes"), 'y'},
      {WithDefault("ON", TYPBOOL, 0, "TRUE"), 1},
      {WithDefault("OFF", TYPBOOL, 0, "true"), 0, "rejected file value, default not TRUE"},
      {WithDefault("NUM", TYPINT, 10, " \t-12abc"), -12, "defaults ignore the bounds"},
      {WithDefault("NONE", TYPLONG, 10, "abc"), 0},
      {WithDefault("HUGE", TYPLONG, 10, "99999999999"), INT32_MAX},
      {WithDefault("LOW", TYPLONG, 10, "-99999999999"), INT32_MIN},
      {WithDefault("REAL", TYPDOUBLE, 1, " +2.5e1x"), 25.0},
      {WithDefault("NOREAL", TYPDOUBLE, 1, "inf"), 0.0},
      {WithDefault("ODD", -7, 0, "7"), 0, "unknown types get no default"},
  };
  table_.clear();
  for (const DefaultCase& c : cases) table_.push_back(c.entry);
  ReadResult r = Read(FileOfS("STR = given\r\nOFF = no\r\n"), PARREAD | PARCHECK);
  ASSERT_EQ(r.code, PAROK);
  for (size_t i = 0; i < table_.size(); ++i) {
    SCOPED_TRACE(std::string(Entry(i).paramToken) + ": " + cases[i].why);
    ExpectValue(Entry(i), cases[i].value);
  }
  EXPECT_EQ(Entry(3).found, 1);
  EXPECT_EQ(Entry(3).valid, 0);
}

TEST_F(ModesTest, ValidFileValueIsNotReplaced) {
  table_ = {MakeEntry("S", "STR", TYPSTRING, 0, 20, 0, 1, "fallback")};
  ASSERT_EQ(Read(FileOfS("STR = mine\r\n"), PARREAD | PARCHECK).code, PAROK);
  EXPECT_STREQ(Entry(0).value.text, "mine");
}

}  // namespace
