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

// A file, where the reader stopped, the items of [HOSTS] (the table's
// dynamic entry) in their order, and the value of A in [S].
struct DynamicCase {
  const char* name;
  std::string file;
  int32_t code;
  int32_t line;  // 888, the fixture's mark for a position nobody set, after a good read
  std::vector<std::pair<std::string, std::string>> items;
  int32_t a;
};

void PrintTo(const DynamicCase& c, std::ostream* os) { *os << c.name; }

class DynamicFileTest : public DynamicTest, public ::testing::WithParamInterface<DynamicCase> {};

TEST_P(DynamicFileTest, ItemsAreTheSectionsLines) {
  const DynamicCase& c = GetParam();
  ReadResult r = Read(c.file);
  EXPECT_EQ(r.code, c.code);
  EXPECT_EQ(r.where, c.line);
  const ParamEntry& e = Entry(0);
  const int count = static_cast<int>(c.items.size());
  EXPECT_EQ(ParamDynItemCount(), count);
  EXPECT_EQ(e.found, count > 0 ? 1 : 0);
  EXPECT_EQ(e.valid, count > 0 ? 1 : 0);
  // Items clear the default; without any the table's stays.
  EXPECT_STREQ(e.defaultValue, count > 0 ? nullptr : "was set");
  if (count > 0) {
    ASSERT_NE(e.value.items, nullptr);
  }
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(ItemKey(e, i), c.items[i].first) << i;
    EXPECT_EQ(ItemValue(e, i), c.items[i].second) << i;
    // Zero-padded: nothing of another item or of the heap in the rest.
    const char* item = e.value.items + i * PARDYNITEMSIZE;
    for (size_t at = c.items[i].first.size(); at < PARDYNVALUEOFFSET; ++at) EXPECT_EQ(item[at], '\0') << i;
    for (size_t at = PARDYNVALUEOFFSET + c.items[i].second.size(); at < PARDYNITEMSIZE; ++at)
      EXPECT_EQ(item[at], '\0') << i;
  }
  EXPECT_EQ(Entry(1).value.number, c.a);
}

const DynamicCase kDynamicCases[] = {
    {"LinesBecomeItemsInFileOrder",
     "KEYINI\r\n[HOSTS] DYNAMIC\r\nalpha = 1.2.3.4\r\nbeta = x\r\n// note\r\ngamma=zz\r\n[S]\r\nA = 3\r\n", PAROK, 888,
     {{"alpha", "1.2.3.4"}, {"beta", "x"}, {"gamma", "zz"}}, 3},
    {"HundredCharacterKeyAndValueFillTheirFields",
     "KEYINI\r\n[HOSTS] DYNAMIC\r\n" + std::string(100, 'k') + " = " + std::string(100, 'v') + "\r\n", PAROK, 888,
     {{std::string(100, 'k'), std::string(100, 'v')}}, 0},
    {"SecondSectionStartsAgainAndCutsTheArray",
     "KEYINI\r\n[HOSTS] DYNAMIC\r\na = 1\r\nb = 2\r\nc = 3\r\n[HOSTS] DYNAMIC\r\nd = 4\r\n", PAROK, 888, {{"d", "4"}}, 0},
    {"DynamicMustFollowTheHeaderDirectly", "KEYINI\r\n[HOSTS]\r\na = 1\r\n", PARUNKNOWNKEY, 3, {}, 0},
};

INSTANTIATE_TEST_SUITE_P(Files, DynamicFileTest, ::testing::ValuesIn(kDynamicCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DynamicTest, FirstEntryOfTheSectionMustBeDynamic) {
  table_.insert(table_.begin(), MakeEntry("HOSTS", "X", TYPSTRING, 0, 100));
  ReadResult r = Read("KEYINI\r\n[HOSTS] DYNAMIC\r\n\r\na = 1\r\n");
  EXPECT_EQ(r.code, PARNOTDYN);
  EXPECT_EQ(r.where, 4);
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
