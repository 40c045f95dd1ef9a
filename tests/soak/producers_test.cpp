// Producers appending while the service delivers and removes the same files:
// tormelctl put under the file lock; a plain program that appends whole
// lines without any lock; one that keeps its file open for the whole run;
// and one that writes every record in two pieces with a pause between.
// Every record arrives, once, neither cut nor merged with another.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <random>
#include <set>
#include <thread>

#include "soak_support.h"

namespace {

constexpr int kPutProducers = 4;
constexpr int kFileNumbers = 3;
// Under AddressSanitizer every tormelctl start, and every sync it makes,
// costs several times more; a quarter of the records keep the case within
// half a minute there.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kPerProducer = 125;
#else
constexpr int kPerProducer = 500;
#endif

TEST(Producers, PutAndPlainAppendersLoseNothingWhileTheServiceRemovesFiles) {
  TestReceiver receiver;
  // A loaded machine may take a while to answer a connection: a slow one is
  // no loss, and is not what this case is about.
  SoakService service(receiver.port, 5);
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
        std::string err;
        if (service.RunProgram(TORMELCTL_BIN,
                               {"put", "--config", service.params, "--number", number, "--to", "127.0.0.1", record},
                               nullptr, &err) != 0) {
          ++failures;
          ADD_FAILURE() << record << ": " << err;
        }
      }
    });
  }
  // The plain producer: open for appending, one write of a whole line, close.
  for (int i = 0; i < kPerProducer; ++i) expected.insert("plain record " + std::to_string(i));
  producers.emplace_back([&] {
    for (int i = 0; i < kPerProducer; ++i) {
      std::string line = BufferLine("plain record " + std::to_string(i));
      int fd = open(service.Buffer(1 + i % kFileNumbers).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
      if (fd < 0 || write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) ++failures;
      if (fd >= 0) close(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  // Held open from the first record to the last, each line flushed whole.
  const int heldNumber = kFileNumbers + 1;
  for (int i = 0; i < kPerProducer; ++i) expected.insert("held record " + std::to_string(i));
  producers.emplace_back([&] {
    FILE* f = fopen(service.Buffer(heldNumber).c_str(), "abe");
    if (f == nullptr) {
      ++failures;
      return;
    }
    for (int i = 0; i < kPerProducer; ++i) {
      fputs(BufferLine("held record " + std::to_string(i)).c_str(), f);
      fflush(f);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    fclose(f);
  });
  // Two writes per record, the file open in between: the first piece ends
  // in the middle of the record.
  const int splitNumber = kFileNumbers + 2;
  for (int i = 0; i < kPerProducer / 5; ++i) expected.insert("split record " + std::to_string(i));
  producers.emplace_back([&] {
    std::mt19937 random(11);
    for (int i = 0; i < kPerProducer / 5; ++i) {
      std::string line = BufferLine("split record " + std::to_string(i));
      size_t cut = 40 + random() % (line.size() - 41);
      int fd = open(service.Buffer(splitNumber).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
      if (fd < 0 || write(fd, line.data(), cut) != static_cast<ssize_t>(cut)) ++failures;
      std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 40));
      if (fd < 0 || write(fd, line.data() + cut, line.size() - cut) != static_cast<ssize_t>(line.size() - cut))
        ++failures;
      if (fd >= 0) close(fd);
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
  EXPECT_TRUE(WaitNoBufferFileLeft(service.dir.path)) << "a buffer file, or a retired one, is left";
  EXPECT_EQ(service.Stop(), 0);

  std::vector<std::string> records = receiver.Records();
  std::set<std::string> received(records.begin(), records.end());
  std::vector<std::string> missing;
  std::set_difference(expected.begin(), expected.end(), received.begin(), received.end(), std::back_inserter(missing));
  EXPECT_TRUE(missing.empty()) << missing.size() << " records missing, the first: " << (missing.empty() ? "" : missing.front());
  // A cut or merged record would arrive as a text no producer wrote.
  EXPECT_EQ(received.size(), expected.size()) << "nothing but the producers' records arrives";
  EXPECT_EQ(records.size(), expected.size()) << "each record arrives once";
  EXPECT_EQ(service.Log(), "");
}

}  // namespace
