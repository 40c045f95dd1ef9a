// Producers appending while the service delivers and removes the same files:
// tormelctl put under the file lock, and a plain program that appends whole
// lines without any lock. Every record arrives.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <set>
#include <thread>

#include "soak_support.h"

namespace {

constexpr int kPutProducers = 4;
constexpr int kFileNumbers = 3;
// Under AddressSanitizer every tormelctl start costs some 20 ms more; half
// the records keep the case well under a minute there.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kPerProducer = 250;
#else
constexpr int kPerProducer = 500;
#endif

TEST(Producers, PutAndPlainAppendersLoseNothingWhileTheServiceRemovesFiles) {
  SoakReceiver receiver;
  SoakService service(receiver.port);
  service.Start();
  ASSERT_TRUE(service.WaitReady());

  std::set<std::string> expected;
  std::vector<std::thread> producers;
  std::atomic<int> failures{0};
  for (int p = 0; p < kPutProducers; ++p) {
    for (int i = 0; i < kPerProducer; ++i) expected.insert("put " + std::to_string(p) + " record " + std::to_string(i));
    producers.emplace_back([&, p] {
      for (int i = 0; i < kPerProducer; ++i) {
        std::string number = std::to_string(1 + (p + i) % kFileNumbers);
        std::string record = "put " + std::to_string(p) + " record " + std::to_string(i);
        if (RunProcess(TORMELCTL_BIN, {"put", "--config", service.params, "--number", number, "--to", "127.0.0.1", record},
                       service.dir.path, service.env) != 0)
          ++failures;
      }
    });
  }
  // The plain producer: open for appending, one write of a whole line, close.
  for (int i = 0; i < kPerProducer; ++i) expected.insert("plain record " + std::to_string(i));
  producers.emplace_back([&] {
    for (int i = 0; i < kPerProducer; ++i) {
      std::string line = Record("plain record " + std::to_string(i));
      int fd = open(service.Buffer(1 + i % kFileNumbers).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
      if (fd < 0 || write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) ++failures;
      if (fd >= 0) close(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  for (std::thread& t : producers) t.join();
  EXPECT_EQ(failures, 0);

  auto allReceived = [&] {
    std::vector<std::string> records = receiver.Records();
    std::set<std::string> received(records.begin(), records.end());
    return std::includes(received.begin(), received.end(), expected.begin(), expected.end());
  };
  EXPECT_TRUE(WaitFor(allReceived, std::chrono::seconds(30)));
  EXPECT_TRUE(WaitFor([&] {
    for (int n = 1; n <= kFileNumbers; ++n)
      if (FileExists(service.Buffer(n))) return false;
    return true;
  }));
  EXPECT_EQ(service.Stop(), 0);

  std::vector<std::string> records = receiver.Records();
  std::set<std::string> received(records.begin(), records.end());
  std::vector<std::string> missing;
  std::set_difference(expected.begin(), expected.end(), received.begin(), received.end(), std::back_inserter(missing));
  EXPECT_TRUE(missing.empty()) << missing.size() << " records missing, the first: " << (missing.empty() ? "" : missing.front());
  EXPECT_EQ(received.size(), expected.size()) << "nothing but the producers' records arrives";
  EXPECT_EQ(service.Log(), "");
}

}  // namespace
