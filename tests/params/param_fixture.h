// Shared by the reader's suites: a fresh folder per test holding the files
// the reader is pointed at, and short ways to describe table entries.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "paramfile.h"

inline ParamEntry MakeEntry(const char* group, const char* key, int32_t type, double minValue = 0,
                            double maxValue = 0, int32_t optional = 0, int32_t onError = 0,
                            const char* defaultValue = nullptr, const char* comment = nullptr) {
  ParamEntry e;
  std::memset(&e, 0, sizeof e);
  e.groupToken = group;
  e.paramToken = key;
  e.type = type;
  e.minValue = minValue;
  e.maxValue = maxValue;
  e.optional = optional;
  e.onError = onError;
  e.defaultValue = defaultValue;
  e.comment = comment;
  return e;
}

struct ReadResult {
  int32_t result;
  int32_t code;
  int32_t where;
};

class ParamFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A fresh folder in the system's temporary folder, on every system.
    static unsigned counter = 0;
    for (;;) {
      std::filesystem::path candidate =
          std::filesystem::temp_directory_path() /
          ("params_test_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "_" +
           std::to_string(++counter));
      if (std::filesystem::create_directory(candidate)) {
        dir_ = candidate.string();
        return;
      }
    }
  }

  void TearDown() override {
    // Nothing a test read may stay allocated: the leak checker would see it.
    for (ParamEntry& e : table_) {
      if (e.type == TYPDYN) {
        std::free(e.value.items);
        e.value.items = nullptr;
      }
    }
    std::filesystem::remove_all(dir_);
  }

  std::string Write(const std::string& content, const char* name = "test.ini") {
    std::string path = (dir_ / name).string();
    std::ofstream out(path, std::ios::binary);
    out << content;
    return path;
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

  std::filesystem::path dir_;
  std::vector<ParamEntry> table_;
};

// The usual head of a test file, lines 1 and 2: "KEYINI" and "[S]".
inline std::string FileOfS(const std::string& body) { return "KEYINI\r\n[S]\r\n" + body; }
