// Shared by the reader's suites: a fresh folder per test holding the files
// the reader is pointed at, and short ways to describe table entries.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "param_entry.h"
#include "paramfile.h"
#include "test_support.h"

struct ReadResult {
  int32_t result;
  int32_t code;
  int32_t where;
};

class ParamFileTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Nothing a test read may stay allocated: the leak checker would see it.
    for (ParamEntry& e : table_) {
      if (e.type == TYPDYN) {
        std::free(e.value.items);
        e.value.items = nullptr;
      }
    }
  }

  std::string Write(const std::string& content, const char* name = "test.ini") {
    WriteFile(dir.Path(name), content);
    return dir.Path(name);
  }

  // Writes content and runs ParamFileRead on table_ with the given modes;
  // code and where start at sentinels so that untouched outputs show.
  ReadResult Read(const std::string& content, int32_t modes = PARREAD) {
    return ReadPath(Write(content).c_str(), modes);
  }

  ReadResult ReadPath(const char* path, int32_t modes) {
    ReadResult r{0, 777, 888};
    r.result = ParamFileRead(path, modes, table_.data(), static_cast<int32_t>(table_.size()),
                             &r.code, &r.where);
    return r;
  }

  ParamEntry& Entry(size_t i) { return table_.at(i); }

  TempDir dir;
  std::vector<ParamEntry> table_;
};

// The usual head of a test file, lines 1 and 2: "KEYINI" and "[S]".
inline std::string FileOfS(const std::string& body) { return "KEYINI\r\n[S]\r\n" + body; }

// What an entry's value should hold, in the member its type uses: text for
// TYPSTRING, a character for TYPCHAR, a number for TYPBOOL, TYPINT and
// TYPLONG, a real for TYPDOUBLE; nothing when the value is not looked at.
using ExpectedValue = std::variant<std::monostate, std::string, char, int32_t, double>;

inline void ExpectValue(const ParamEntry& e, const ExpectedValue& expected) {
  struct Check {
    const ParamEntry& e;
    void operator()(std::monostate) const {}
    void operator()(const std::string& text) const { EXPECT_EQ(std::string(e.value.text), text); }
    void operator()(char ch) const { EXPECT_EQ(e.value.ch, ch); }
    void operator()(int32_t number) const { EXPECT_EQ(e.value.number, number); }
    void operator()(double real) const { EXPECT_DOUBLE_EQ(e.value.real, real); }
  };
  std::visit(Check{e}, expected);
}
