// The reference receiver as a process: what it prints, how it answers, and
// that a termination request (a signal; a console control event on
// Windows) ends it cleanly.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "sockio.h"
#include "test_process.h"
#include "test_support.h"
#include "tormel.h"

namespace {

struct Receiver : ::testing::Test {
  // A receiver left running by a failed case would hold the test's output.
  void TearDown() override {
    if (IsRunning(process)) {
      SendSignal(process, TEST_SIGKILL);
      WaitExit(process);
    }
  }
  uint16_t Start(const std::vector<std::string>& options) {
    std::vector<std::string> args{"--port", "0", "--port-file", dir.Path("port")};
    args.insert(args.end(), options.begin(), options.end());
    process = StartConsoleProcess(TORMEL_RECEIVER_BIN, args, dir.path);
    std::string port;
    EXPECT_TRUE(WaitFor([&] {
      port = ReadFile(dir.Path("port"));
      return !port.empty() && port.back() == '\n';
    }));
    return static_cast<uint16_t>(atoi(port.c_str()));
  }
  // Sends one frame built from a buffer line; the answer, or the error code.
  std::string Send(int32_t handle, const std::string& content) {
    std::string line = BufferLine(content, '$', "127.0.0.1", "");
    char prefix[TORMEL_PREFIX_SIZE];
    TormelBuildPrefix(prefix, "10.1.2.3", "6665");
    char frame[TORMEL_FRAME_SIZE + 1];
    TormelBuildFrame(frame, line.data(), line.size(), prefix);
    int32_t sent = 0, received = 0;
    if (int32_t r = CSocketWrite(handle, frame, TORMEL_FRAME_SIZE, &sent)) return "error " + std::to_string(r);
    char reply[2] = {};
    if (int32_t r = CSocketRead(handle, reply, 1, &received, 2)) return "error " + std::to_string(r);
    return reply;
  }
  TempDir dir;
  ChildProcess process;
};

TEST_F(Receiver, PrintsEachRecordAnswersAsToldAndEndsOnSigterm) {
  uint16_t port = Start({"--zero-every", "2"});
  int32_t handle = 0;
  ASSERT_EQ(CSocketClientOpen(&handle, "127.0.0.1", port, 2), 0);
  EXPECT_EQ(Send(handle, "first\n"), "1");
  EXPECT_EQ(Send(handle, "second\n"), "0");
  EXPECT_EQ(Send(handle, std::string("tab\tand\\\n")), "1");
  EXPECT_EQ(CSocketClose(handle), 0);
  SendSignal(process, SIGTERM);
  EXPECT_EQ(WaitExit(process), 0);
  EXPECT_EQ(ReadText(process.outPath), "10.1.2.3 6665 first\n10.1.2.3 6665 second\n10.1.2.3 6665 tab\\x09and\\\\\n");
  EXPECT_NE(ReadText(process.errPath).find("3 frames received"), std::string::npos);
}

TEST_F(Receiver, ClosesWithoutAnsweringEveryKthFrame) {
  uint16_t port = Start({"--close-every", "2", "--quiet"});
  int32_t handle = 0;
  ASSERT_EQ(CSocketClientOpen(&handle, "127.0.0.1", port, 2), 0);
  EXPECT_EQ(Send(handle, "one\n"), "1");
  EXPECT_EQ(Send(handle, "two\n"), "error " + std::to_string(SOCKIO_ECLOSED));
  CSocketClose(handle);
  ASSERT_EQ(CSocketClientOpen(&handle, "127.0.0.1", port, 2), 0);
  EXPECT_EQ(Send(handle, "three\n"), "1");
  CSocketClose(handle);
  SendSignal(process, SIGINT);
  EXPECT_EQ(WaitExit(process), 0);
  EXPECT_EQ(ReadText(process.outPath), "");
}

TEST_F(Receiver, RefusesBadOptions) {
  std::string err;
  EXPECT_EQ(RunProcess(TORMEL_RECEIVER_BIN, {"--zero-every", "x"}, dir.path, {}, nullptr, &err), 2);
  EXPECT_NE(err.find("usage: tormel-receiver"), std::string::npos);
}

}  // namespace
