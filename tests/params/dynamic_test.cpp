// Dynamic sections: free key/value lines collected into one item array.
#include "param_fixture.h"

namespace {

std::string ItemKey(const ParamEntry& e, int i) {
  const char* p = e.value.items + i * PARDYNITEMSIZE;
  return std::string(p, strnlen(p, PARDYNVALUEOFFSET));
}

std::string ItemValue(const ParamEntry& e, int i) {
  const char* p = e.value.items + i * PARDYNITEMSIZE + PARDYNVALUEOFFSET;
  return std::string(p, strnlen(p, PARDYNITEMSIZE - PARDYNVALUEOFFSET));
}

class DynamicTest : public ParamFileTest {
 protected:
  void SetUp() override {
    ParamFileTest::SetUp();
    table_ = {MakeEntry("HOSTS", "ANY", TYPDYN, 0, 0, 0, 0, "was set"),
              MakeEntry("S", "A", TYPINT, 0, 100)};
  }
};

TEST_F(DynamicTest, LinesBecomeItemsInFileOrder) {
  ReadResult r = Read(
      "KEYINI\r\n[HOSTS] DYNAMIC\r\nalpha = 1.2.3.4\r\nbeta = x\r\n// note\r\ngamma=zz\r\n"
      "[S]\r\nA = 3\r\n");
  ASSERT_EQ(r.code, PAROK);
  const ParamEntry& e = Entry(0);
  EXPECT_EQ(e.found, 1);
  EXPECT_EQ(e.valid, 1);
  EXPECT_EQ(e.defaultValue, nullptr);
  EXPECT_EQ(ParamDynItemCount(), 3);
  ASSERT_NE(e.value.items, nullptr);
  EXPECT_EQ(ItemKey(e, 0), "alpha");
  EXPECT_EQ(ItemValue(e, 0), "1.2.3.4");
  EXPECT_EQ(ItemKey(e, 2), "gamma");
  EXPECT_EQ(ItemValue(e, 2), "zz");
  // Zero-padded: nothing of another item or of the heap in the rest.
  for (int i = 5; i < PARDYNVALUEOFFSET; i++) EXPECT_EQ(e.value.items[i], '\0');
  EXPECT_EQ(Entry(1).value.number, 3);
}

TEST_F(DynamicTest, HundredCharacterKeyAndValueFillTheirFields) {
  std::string key(100, 'k'), value(100, 'v');
  ReadResult r = Read("KEYINI\r\n[HOSTS] DYNAMIC\r\n" + key + " = " + value + "\r\n");
  ASSERT_EQ(r.code, PAROK);
  EXPECT_EQ(ItemKey(Entry(0), 0), key);
  EXPECT_EQ(ItemValue(Entry(0), 0), value);
}

TEST_F(DynamicTest, SecondSectionStartsAgainAndCutsTheArray) {
  ReadResult r = Read(
      "KEYINI\r\n[HOSTS] DYNAMIC\r\na = 1\r\nb = 2\r\nc = 3\r\n[HOSTS] DYNAMIC\r\nd = 4\r\n");
  ASSERT_EQ(r.code, PAROK);
  EXPECT_EQ(ParamDynItemCount(), 1);
  EXPECT_EQ(ItemKey(Entry(0), 0), "d");
}

TEST_F(DynamicTest, FirstEntryOfTheSectionMustBeDynamic) {
  table_.insert(table_.begin(), MakeEntry("HOSTS", "X", TYPSTRING, 0, 100));
  ReadResult r = Read("KEYINI\r\n[HOSTS] DYNAMIC\r\n\r\na = 1\r\n");
  EXPECT_EQ(r.code, PARNOTDYN);
  EXPECT_EQ(r.where, 4);
}

TEST_F(DynamicTest, DynamicMustFollowTheHeaderDirectly) {
  ReadResult r = Read("KEYINI\r\n[HOSTS]\r\na = 1\r\n");
  EXPECT_EQ(r.code, PARUNKNOWNKEY);
  EXPECT_EQ(r.where, 3);
}

TEST_F(DynamicTest, FreeReleasesTheArraySoTheTableCanBeReadAgain) {
  const std::string file = "KEYINI\r\n[HOSTS] DYNAMIC\r\na = 1\r\nb = 2\r\n";
  ASSERT_EQ(Read(file).code, PAROK);
  ReadResult r = ReadPath(nullptr, PARFREE);
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.code, 777) << "free alone leaves the code as it was";
  EXPECT_EQ(Entry(0).value.items, nullptr);
  EXPECT_EQ(Entry(1).value.number, 0) << "other types untouched";

  // Read, free and read again in one process: the leak checker at exit and
  // the address checker see every byte of it.
  ASSERT_EQ(Read(file, PARREAD | PARFREE).code, PAROK);
  ASSERT_EQ(Read(file).code, PAROK);
  EXPECT_EQ(ItemKey(Entry(0), 1), "b");
}

}  // namespace
