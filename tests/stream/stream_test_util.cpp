#include "stream_test_util.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

void BufFileTest::SetUp() {
  // A fresh folder in the system's temporary folder, on every system.
  namespace fs = std::filesystem;
  static unsigned counter = 0;
  for (;;) {
    fs::path candidate = fs::temp_directory_path() /
        ("tormel-stream-test-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
         std::to_string(++counter));
    if (fs::create_directory(candidate)) {
      dir_ = candidate.string();
      return;
    }
  }
}

void BufFileTest::TearDown() {
  BufClose(&s_);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string BufFileTest::Make(const std::string& name, const std::string& bytes) {
  std::string path = dir_ + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return path;
}

std::string BufFileTest::Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

void BufFileTest::Append(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << bytes;
}

std::string BufFileTest::Gets(int size) {
  std::vector<char> line(static_cast<size_t>(size) + 1, '#');
  lastCount_ = BufGets(&s_, line.data(), size);
  EXPECT_EQ(line[static_cast<size_t>(lastCount_)], '\0');
  return std::string(line.data(), static_cast<size_t>(lastCount_));
}
