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

TEST_F(ModesTest, DefaultsAreConvertedByType) {
  std::string longText(150, 'd');
  table_ = {
      MakeEntry("S", "STR", TYPSTRING, 0, 3, 1, 1, longText.c_str()),
      MakeEntry("S", "CH", TYPCHAR, 0, 0, 1, 1, "yes"),
      MakeEntry("S", "ON", TYPBOOL, 0, 0, 1, 1, "TRUE"),
      MakeEntry("S", "OFF", TYPBOOL, 0, 0, 1, 1, "true"),
      MakeEntry("S", "NUM", TYPINT, 0, 10, 1, 1, " \t-12abc"),
      MakeEntry("S", "NONE", TYPLONG, 0, 10, 1, 1, "abc"),
      MakeEntry("S", "HUGE", TYPLONG, 0, 10, 1, 1, "99999999999"),
      MakeEntry("S", "LOW", TYPLONG, 0, 10, 1, 1, "-99999999999"),
      MakeEntry("S", "REAL", TYPDOUBLE, 0, 1, 1, 1, " +2.5e1x"),
      MakeEntry("S", "NOREAL", TYPDOUBLE, 0, 1, 1, 1, "inf"),
      MakeEntry("S", "ODD", -7, 0, 0, 1, 1, "7"),
  };
  ReadResult r = Read(FileOfS("STR = given\r\nOFF = no\r\n"), PARREAD | PARCHECK);
  ASSERT_EQ(r.code, PAROK);
  EXPECT_EQ(std::string(Entry(0).value.text), std::string(100, 'd')) << "cut at 100";
  EXPECT_EQ(Entry(1).value.ch, 'y');
  EXPECT_EQ(Entry(2).value.number, 1);
  EXPECT_EQ(Entry(3).value.number, 0) << "rejected file value, default not TRUE";
  EXPECT_EQ(Entry(3).found, 1);
  EXPECT_EQ(Entry(3).valid, 0);
  EXPECT_EQ(Entry(4).value.number, -12) << "defaults ignore the bounds";
  EXPECT_EQ(Entry(5).value.number, 0);
  EXPECT_EQ(Entry(6).value.number, INT32_MAX);
  EXPECT_EQ(Entry(7).value.number, INT32_MIN);
  EXPECT_DOUBLE_EQ(Entry(8).value.real, 25.0);
  EXPECT_DOUBLE_EQ(Entry(9).value.real, 0.0);
  EXPECT_EQ(Entry(10).value.number, 0) << "unknown types get no default";
}

TEST_F(ModesTest, ValidFileValueIsNotReplaced) {
  table_ = {MakeEntry("S", "STR", TYPSTRING, 0, 20, 0, 1, "fallback")};
  ASSERT_EQ(Read(FileOfS("STR = mine\r\n"), PARREAD | PARCHECK).code, PAROK);
  EXPECT_STREQ(Entry(0).value.text, "mine");
}

}  // namespace
