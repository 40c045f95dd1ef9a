// One record exchange: the frame as it leaves and SndWithReply against a
// real receiver.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "sockio.h"
#include "test_receiver.h"
#include "timeout.h"
#include "test_support.h"
#include "tormel.h"

namespace {

std::string Prefix(const char* ip, const char* port) {
  char prefix[TORMEL_PREFIX_SIZE];
  TormelBuildPrefix(prefix, ip, port);
  return std::string(prefix, TORMEL_PREFIX_SIZE);
}

std::string Frame(const std::string& line, const std::string& prefix) {
  char frame[TORMEL_FRAME_SIZE + 1];
  memset(frame, 'X', sizeof frame);
  TormelBuildFrame(frame, line.data(), line.size(), prefix.data());
  return std::string(frame, sizeof frame);
}

// A line as the stream hands it over, its line end read as LF: the mark,
// and every column up to the content filled with text of its own, so that
// what the frame does not replace would show.
std::string LineAsRead(const std::string& content) {
  std::string line = "$" + std::string(37, '-') + "192.168.100.200" + "abcde" + content;
  EXPECT_EQ(line.size(), 58u + content.size());
  return line;
}

TEST(Frame, PrefixIsPaddedAddressAndPortText) {
  EXPECT_EQ(Prefix("10.1.2.3", "6665"), "10.1.2.3       6665 ");
  EXPECT_EQ(Prefix("", ""), std::string(20, ' '));
  EXPECT_EQ(Prefix("255.255.255.255", "65535"), "255.255.255.25565535");
}

TEST(Frame, CarriesTheContentAfterThePrefixThenZeros) {
  std::string prefix = Prefix("10.0.0.7", "6665");
  std::string frame = Frame(LineAsRead("hello world\n"), prefix);
  EXPECT_EQ(frame.substr(0, 20), prefix);
  EXPECT_EQ(frame.substr(20, 12), "hello world\n");
  EXPECT_EQ(frame.substr(32), std::string(TORMEL_FRAME_SIZE + 1 - 32, '\0'));
}

TEST(Frame, LineOf58CharactersAndLFIsPrefixLFZero) {
  std::string frame = Frame(LineAsRead("\n"), Prefix("10.0.0.7", "1"));
  EXPECT_EQ(frame[20], '\n');
  EXPECT_EQ(frame.substr(21), std::string(TORMEL_FRAME_SIZE + 1 - 21, '\0'));
}

TEST(Frame, LineOf550CharactersFillsItExactly) {
  std::string content(550 - 58 - 1, 'c');
  std::string line = LineAsRead(content + "\n");
  ASSERT_EQ(line.size(), 550u);
  std::string frame = Frame(line, Prefix("10.0.0.7", "6665"));
  EXPECT_EQ(frame.substr(20, content.size()), content);
  EXPECT_EQ(frame[511], '\n');
  EXPECT_EQ(frame[512], '\0');
}

TEST(Frame, ShortLinesAndEarlierRecordsLeaveNothingBehind) {
  std::string prefix = Prefix("10.0.0.7", "6665");
  char frame[TORMEL_FRAME_SIZE + 1];
  std::string longLine = LineAsRead(std::string(400, 'L') + "\n");
  TormelBuildFrame(frame, longLine.data(), longLine.size(), prefix.data());
  for (std::string shortLine : {std::string("$\n"), std::string("$") + std::string(40, 'x'), LineAsRead("")}) {
    TormelBuildFrame(frame, shortLine.data(), shortLine.size(), prefix.data());
    EXPECT_EQ(std::string(frame, 20), prefix);
    EXPECT_EQ(std::string(frame + 20, sizeof frame - 20), std::string(sizeof frame - 20, '\0')) << shortLine;
  }
  // Content stops at a zero byte inside the line.
  std::string withZero = LineAsRead(std::string("ab\0cd\n", 6));
  TormelBuildFrame(frame, withZero.data(), withZero.size(), prefix.data());
  EXPECT_EQ(std::string(frame + 20, 4), std::string("ab\0\0", 4));
}

struct Exchange : ::testing::Test {
  void SetUp() override { ASSERT_NE(CLogOpen(dir.Path("TORMEL.LOG").c_str(), 1000, 100), 0); }
  int32_t Send(TestReceiver& receiver, int32_t timeout = 2) {
    int32_t handle = 0;
    EXPECT_EQ(CSocketClientOpen(&handle, "127.0.0.1", receiver.port, timeout), 0);
    char frame[TORMEL_FRAME_SIZE + 1] = "frame";
    reply[0] = reply[1] = 0;
    int32_t r = SndWithReply(handle, frame, TORMEL_FRAME_SIZE, reply, 1, timeout);
    EXPECT_EQ(CSocketClose(handle), 0);
    return r;
  }
  std::string Log() { return ReadFile(dir.Path("TORMEL.LOG")); }
  TempDir dir;
  char reply[2];
};

TEST_F(Exchange, AcknowledgedAndRefusedFramesBothSucceed) {
  TestReceiver receiver([](int n) { return n == 0 ? Reply::Ack : Reply::Refuse; });
  EXPECT_EQ(Send(receiver), 0);
  EXPECT_EQ(std::string(reply, 2), std::string("1\0", 2));
  EXPECT_EQ(Send(receiver), 0);
  EXPECT_EQ(reply[0], '0');
  ASSERT_EQ(receiver.FrameCount(), 2);
  EXPECT_EQ(receiver.Frames()[0].substr(0, 6), std::string("frame\0", 6));
  EXPECT_EQ(Log(), "");
}

TEST_F(Exchange, ReceiverClosingWithoutAnswerIsLoggedAndReturned) {
  TestReceiver receiver([](int) { return Reply::Close; });
  EXPECT_EQ(Send(receiver), SOCKIO_ECLOSED);
  std::string log = Log();
  EXPECT_NE(log.find("function=SndWithReply() severity=1 code=9002 secondary=0 "
                     "message=\"Fehler: CSocketRead! ErrorCode: 9002\" detail=\"\""),
            std::string::npos)
      << log;
}

TEST_F(Exchange, SilentReceiverTimesOut) {
  TestReceiver receiver([](int) { return Reply::Silent; });
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Send(receiver, 1), SOCKIO_ETIMEOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_NE(Log().find("Fehler: CSocketRead! ErrorCode: 9001"), std::string::npos);
}

// A receiver out of step: a byte before the first frame, or two answers to
// one frame. The answer that came whole stands; the exchange reports 9008.
TEST_F(Exchange, BytesBeyondTheAnswerAreAProtocolError) {
  TestReceiver receiver([](int) { return Reply::Twice; });
  EXPECT_EQ(Send(receiver), SOCKIO_EEXTRA);
  EXPECT_EQ(reply[0], '1');
  EXPECT_NE(Log().find("code=9008 secondary=0 message=\"Fehler: CSocketRead! ErrorCode: 9008\""), std::string::npos)
      << Log();

  TestReceiver greeter;
  greeter.greet = true;
  int32_t handle = 0;
  ASSERT_EQ(CSocketClientOpen(&handle, "127.0.0.1", greeter.port, 2), 0);
  // Once sent on the loopback, the byte waits in this end's receive queue.
  ASSERT_TRUE(WaitFor([&] { return greeter.greetings == 1; }));
  char frame[TORMEL_FRAME_SIZE + 1] = "frame";
  EXPECT_EQ(SndWithReply(handle, frame, TORMEL_FRAME_SIZE, reply, 1, 2), SOCKIO_EEXTRA);
  EXPECT_NE(Log().find("Fehler: CSocketWrite! ErrorCode: 9008"), std::string::npos);
  EXPECT_EQ(CSocketClose(handle), 0);
  EXPECT_EQ(greeter.FrameCount(), 0) << "nothing is sent to a receiver that spoke first";
}

TEST(Timeout, ZeroAndLessMeanThreeSecondsAndADayIsTheMost) {
  EXPECT_EQ(SockioTimeoutMs(0), 3000);
  EXPECT_EQ(SockioTimeoutMs(-5), 3000);
  EXPECT_EQ(SockioTimeoutMs(1), 1000);
  EXPECT_EQ(SockioTimeoutMs(1000), 1000000);
  EXPECT_EQ(SockioTimeoutMs(90000), 86400000);
}

// What the service passes for TIMEOUT = 0 (or out of range) must wait for an
// answer that is slow but well inside three seconds.
TEST_F(Exchange, TimeoutZeroWaitsForASlowAnswer) {
  TestReceiver receiver;
  receiver.delayMs = 1200;
  EXPECT_EQ(Send(receiver, 0), 0);
  EXPECT_EQ(reply[0], '1');
  EXPECT_EQ(Log(), "");
}

TEST_F(Exchange, WriteOnAClosedHandleIsLoggedAsAWriteError) {
  char frame[TORMEL_FRAME_SIZE + 1] = {};
  EXPECT_EQ(SndWithReply(4242, frame, TORMEL_FRAME_SIZE, reply, 1, 1), SOCKIO_EHANDLE);
  EXPECT_NE(Log().find("Fehler: CSocketWrite! ErrorCode: 9004"), std::string::npos);
}

}  // namespace
