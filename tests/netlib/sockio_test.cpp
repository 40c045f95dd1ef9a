// The library's client sockets against a real receiver on 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "os_net.h"
#include "sockio.h"
#include "test_receiver.h"

namespace {

// A port on 127.0.0.1 that nobody listens on: bound once, then closed.
int32_t ClosedPort() {
  OsSocket s;
  uint16_t port = 0;
  EXPECT_EQ(OsTcpListen(0x7f000001, 0, &s, &port), 0);
  OsSocketClose(&s);
  return port;
}

// A connection to receiver, a frame of zero bytes sent on it; its handle.
int32_t ConnectionWithAFrameSent(const TestReceiver& receiver, int32_t timeout) {
  int32_t handle = 0;
  EXPECT_EQ(CSocketClientOpen(&handle, "127.0.0.1", receiver.port, timeout), 0);
  char frame[512] = {};
  int32_t sent = 0;
  EXPECT_EQ(CSocketWrite(handle, frame, 512, &sent), 0);
  EXPECT_EQ(sent, 512);
  return handle;
}

TEST(SocketOpen, AcceptsAddressesAsBufferFilesCarryThem) {
  TestReceiver receiver;
  for (const char* text : {"127.0.0.1", "127.0.0.1      ", "127.0.0.1\n", " 127.0.0.1\r\n", "127.000.0.001",
                           "127.0.0.1      columns after the field"}) {
    int32_t handle = -1;
    EXPECT_EQ(CSocketClientOpen(&handle, text, receiver.port, 1), 0) << '"' << text << '"';
    EXPECT_GT(handle, 0);
    EXPECT_EQ(CSocketClose(handle), 0);
  }
}

TEST(SocketOpen, RejectsAnythingButDottedIPv4AndLeavesAHarmlessHandle) {
  const char* bad[] = {"", "   ", "localhost", "127.0.0", "127.0.0.1.5", "256.1.1.1", "1..2.3",
                       "127.0.0.1x", "12 7.0.0.1", "-1.0.0.0", "1234.1.1.1"};
  for (const char* text : bad) {
    int32_t handle = 77;
    EXPECT_EQ(CSocketClientOpen(&handle, text, 6665, 1), SOCKIO_EADDRESS) << '"' << text << '"';
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(CSocketClose(handle), 0);
  }
  int32_t handle = 77;
  EXPECT_EQ(CSocketClientOpen(&handle, nullptr, 6665, 1), SOCKIO_EADDRESS);
}

TEST(SocketOpen, RefusedConnectionGivesTheSystemErrorAndErrorInfo) {
  int32_t handle = 5;
  int32_t r = CSocketClientOpen(&handle, "127.0.0.1", ClosedPort(), 1);
  EXPECT_NE(r, 0);
  EXPECT_NE(r, SOCKIO_ETIMEOUT);
  EXPECT_EQ(handle, 0);
  int32_t code = 0;
  char text[80] = "";
  CGetErrorInfo(&code, text, sizeof text);
  EXPECT_EQ(code, r);
  EXPECT_GT(strlen(text), 0u);
  EXPECT_EQ(CSocketClose(handle), 0);
}

TEST(SocketHandles, ForeignAndClosedHandlesAreRefused) {
  char buf[4];
  int32_t count = 9;
  EXPECT_EQ(CSocketClose(12345), SOCKIO_EHANDLE);
  EXPECT_EQ(CSocketWrite(-3, "x", 1, &count), SOCKIO_EHANDLE);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(CSocketRead(99, buf, 1, &count, 1), SOCKIO_EHANDLE);

  TestReceiver receiver;
  int32_t handle = 0;
  ASSERT_EQ(CSocketClientOpen(&handle, "127.0.0.1", receiver.port, 1), 0);
  ASSERT_EQ(CSocketClose(handle), 0);
  EXPECT_EQ(CSocketClose(handle), SOCKIO_EHANDLE);
}

TEST(SocketRead, TimesOutWithinItsDeadlineAndCountsWhatCame) {
  TestReceiver receiver([](int) { return Reply::Silent; });
  int32_t handle = ConnectionWithAFrameSent(receiver, 1);
  char reply[2] = {};
  int32_t received = 7;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CSocketRead(handle, reply, 1, &received, 1), SOCKIO_ETIMEOUT);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(900));
  EXPECT_LT(took, std::chrono::seconds(3));
  EXPECT_EQ(received, 0);
  EXPECT_EQ(CSocketClose(handle), 0);
}

TEST(SocketRead, PeerClosingFirstHasItsOwnCode) {
  TestReceiver receiver([](int) { return Reply::Close; });
  int32_t handle = ConnectionWithAFrameSent(receiver, 2);
  char reply[2] = {};
  int32_t received = 0;
  EXPECT_EQ(CSocketRead(handle, reply, 1, &received, 2), SOCKIO_ECLOSED);
  EXPECT_EQ(CSocketClose(handle), 0);
}

TEST(LocalAddress, IsDottedIPv4AndRespectsTheBufferSize) {
  char ip[16] = "";
  ASSERT_EQ(CGetLocalIPString(ip, sizeof ip), 0);
  uint32_t parts[4];
  EXPECT_EQ(sscanf(ip, "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]), 4) << ip;
  char tiny[4] = "abc";
  EXPECT_NE(CGetLocalIPString(tiny, sizeof tiny), 0);
}

}  // namespace
