#include "stream_test_util.h"

#include <vector>

std::string BufFileTest::Gets(int size) {
  std::vector<char> line(static_cast<size_t>(size) + 1, '#');
  lastCount_ = BufGets(&s_, line.data(), size);
  EXPECT_EQ(line[static_cast<size_t>(lastCount_)], '\0');
  return std::string(line.data(), static_cast<size_t>(lastCount_));
}
