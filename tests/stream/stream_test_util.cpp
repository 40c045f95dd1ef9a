#include "stream_test_util.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

void BufFileTest::SetUp() {
  char tmpl[] = "/tmp/tormel-stream-test-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  dir_ = tmpl;
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
