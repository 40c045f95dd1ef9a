// The forwarding loop over real buffer files in a temporary folder, against
// a real receiver on 127.0.0.1.
#include <gtest/gtest.h>


#include <atomic>
#include <cstring>
#include <filesystem>
#include <future>
#include <set>
#include <string>
#include <thread>

#include "os_file.h"
#include "os_net.h"
#include "os_sync.h"
#include "sockio.h"
#include "test_process.h"
#include "test_receiver.h"
#include "test_support.h"
#include "tormel.h"

namespace {

// One buffer file line: mark, 37 free columns, address field, 5 more, content, CR LF.
std::string Line(char mark, const std::string& content, const std::string& ip = "127.0.0.1") {
  std::string field = ip;
  field.resize(15, ' ');
  return std::string(1, mark) + std::string(37, '.') + field + "#####" + content + "\r\n";
}

struct Work : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(getcwd(oldCwd, sizeof oldCwd));
    // Buffer names are upper-cased whole, so the files live in the working
    // folder under relative names.
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    TestSetEnv("TORMEL_RUNTIME_DIR", dir.Path("run"));
    ASSERT_EQ(OsEventCreate(TORMEL_STOP_EVENT_NAME, true, &TormelStopEvent), 0);
    ASSERT_NE(CLogOpen("TORMEL.LOG", 1000, 100), 0);
    memset(&config, 0, sizeof config);
    strcpy(config.localIp, "10.9.8.7");
    strcpy(config.destIp, "127.0.0.1");
    strcpy(config.portText, "6665");
    strcpy(config.bufferFile, "tormel.buf");
    config.timeout = 1;
  }
  void TearDown() override {
    OsEventClose(&TormelStopEvent);
    EXPECT_EQ(chdir(oldCwd), 0);
  }

  // Runs the loop until done() holds, then stops it; the loop's result.
  int32_t RunUntil(TestReceiver& receiver, const std::function<bool()>& done,
                   std::chrono::milliseconds deadline = std::chrono::seconds(15)) {
    config.port = receiver.port;
    OsEventSet(TormelStopEvent);
    auto result = std::async(std::launch::async, [this] { return TormelWork(&config); });
    bool held = WaitFor(done, deadline);
    EXPECT_TRUE(held) << "condition not reached";
    return Stop(result);
  }

  // Resets the stop event until the loop has ended, as a controller must:
  // the loop sets the event again right after each check, so a reset that
  // falls between the two is overwritten.
  static int32_t Stop(std::future<int32_t>& result) {
    bool ended = WaitFor([&] {
      OsEventReset(TormelStopEvent);
      return result.wait_for(std::chrono::milliseconds(10)) == std::future_status::ready;
    });
    if (!ended) {
      ADD_FAILURE() << "the loop did not end";
      std::abort();  // its thread cannot be joined; end here rather than hang
    }
    return result.get();
  }

  static std::vector<std::string> Contents(TestReceiver& receiver) {
    std::vector<std::string> contents;
    for (const auto& frame : receiver.Frames()) contents.push_back(FrameContent(frame));
    return contents;
  }

  TempDir dir;
  char oldCwd[4096];
  TormelConfig config;
};

TEST_F(Work, StopEventResetBeforeAPassReturnsAtOnce) {
  TestReceiver receiver;
  WriteFile("TORMEL1.BUF", Line('$', "never sent"));
  OsEventReset(TormelStopEvent);
  config.port = receiver.port;
  EXPECT_EQ(TormelWork(&config), 1);
  EXPECT_EQ(receiver.Connections(), 0);
  EXPECT_EQ(ReadFile("TORMEL1.BUF"), Line('$', "never sent"));
  // The loop finds it reset and leaves it so.
  EXPECT_EQ(OsEventIsSet(TormelStopEvent), 0);
}

TEST_F(Work, DeliversPendingRecordsInOrderAndRemovesTheFile) {
  TestReceiver receiver;
  WriteFile("TORMEL1.BUF", Line('$', "first") + Line('*', "already delivered") + Line('#', "a comment line") +
                               Line('$', "second") + Line('$', "third"));
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("TORMEL1.BUF"); }), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"first\n", "second\n", "third\n"}));
  std::string frame = receiver.Frames()[0];
  EXPECT_EQ(frame.substr(0, 20), "10.9.8.7       6665 ");
  EXPECT_EQ(receiver.Connections(), 1);
  EXPECT_EQ(ReadFile("TORMEL.LOG"), "");
}

TEST_F(Work, FilesWithNothingPendingAreConnectedForAndRemoved) {
  TestReceiver receiver;
  WriteFile("TORMEL1.BUF", Line('*', "done") + Line('*', "done too"));
  WriteFile("TORMEL2.BUF", "");  // empty: the address stays as configured
  WriteFile("TORMEL3.BUF", Line('$', "last line without line end").substr(0, 70));
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("TORMEL3.BUF"); }), 1);
  EXPECT_FALSE(FileExists("TORMEL1.BUF"));
  EXPECT_FALSE(FileExists("TORMEL2.BUF"));
  EXPECT_EQ(receiver.Connections(), 3);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"last line wi"}));
}

TEST_F(Work, BufferNamesAreUpperCasedCutAtBufAndNumbered) {
  char name[64];
  char base[101] = "sub/tormel.buf.bak";
  TormelBufferBase(base);
  TormelBufferName(name, sizeof name, base, 12);
  EXPECT_STREQ(name, "SUB/TORMEL12.BUF");
  strcpy(base, "Queue_ä9");
  TormelBufferBase(base);
  TormelBufferName(name, sizeof name, base, 1);
  EXPECT_STREQ(name, "QUEUE_ä91.BUF");
  base[0] = '\0';
  TormelBufferName(name, sizeof name, base, 3);
  EXPECT_STREQ(name, "3.BUF");

  TestReceiver receiver;
  std::filesystem::create_directory("SUB");
  WriteFile("SUB/TORMEL1.BUF", Line('$', "from a folder"));
  WriteFile("1.BUF", Line('$', "not this one"));
  strcpy(config.bufferFile, "sub/tormel.buf");
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("SUB/TORMEL1.BUF"); }), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"from a folder\n"}));
  EXPECT_TRUE(FileExists("1.BUF"));
}

TEST_F(Work, EmptyBufferNameLooksForNumberedFilesAlone) {
  TestReceiver receiver;
  WriteFile("1.BUF", Line('$', "bare"));
  config.bufferFile[0] = '\0';
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("1.BUF"); }), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"bare\n"}));
}

TEST_F(Work, LongLinesGoInPiecesEachJudgedByItsFirstCharacter) {
  TestReceiver receiver;
  // 650 characters before the line end: a piece of 550, then 100 and the LF.
  std::string tail = '$' + std::string(99, 't');
  std::string line = Line('$', std::string(550 - 58, 'h') + tail);
  WriteFile("TORMEL1.BUF", line + Line('$', "after") + "\x1a");
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("TORMEL1.BUF"); }), 1);
  auto frames = receiver.Frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].substr(20), std::string(550 - 58, 'h'));
  // The second piece: its own columns 58 on after the prefix.
  EXPECT_EQ(FrameContent(frames[1]), std::string(99 - 57, 't') + "\n");
  EXPECT_EQ(FrameContent(frames[2]), "after\n");
}

TEST_F(Work, RefusedRecordKeepsTheFileWithOnlyTheMarkChanged) {
  std::atomic<int> refusals{1};
  TestReceiver receiver([&](int n) { return n == 1 && refusals-- > 0 ? Reply::Refuse : Reply::Ack; });
  std::string original = Line('$', "one") + Line('$', "two") + Line('$', "three");
  WriteFile("TORMEL1.BUF", original);
  EXPECT_EQ(RunUntil(receiver, [&] { return receiver.FrameCount() >= 2; }), 1);
  std::string expected = original;
  expected[0] = '*';
  EXPECT_EQ(ReadFile("TORMEL1.BUF"), expected);
  EXPECT_EQ(ReadFile("TORMEL.LOG"), "");

  // The next turn starts at the refused record.
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("TORMEL1.BUF"); }), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"one\n", "two\n", "two\n", "three\n"}));
}

TEST_F(Work, ReceiverDownIsLoggedWithSeverity100AndTheFileKept) {
  uint16_t port;
  {
    TestReceiver gone;
    port = gone.port;
  }
  WriteFile("TORMEL1.BUF", Line('$', "waits"));
  config.port = port;
  OsEventSet(TormelStopEvent);
  auto result = std::async(std::launch::async, [this] { return TormelWork(&config); });
  EXPECT_TRUE(WaitFor([] { return ReadFile("TORMEL.LOG").find("CSocketClientOpen") != std::string::npos; }));
  EXPECT_EQ(Stop(result), 1);
  std::string log = ReadFile("TORMEL.LOG");
  // The code is the system's number for a refused connection.
  OsSocket probe;
  int refused = OsTcpConnect(0x7f000001, port, 1000, &probe);
  EXPECT_NE(log.find("function=TormelWork() severity=100 code=0 secondary=0 "
                     "message=\"Fehler: CSocketClientOpen! ErrorCode: " + std::to_string(refused) + "\" detail=\"\""),
            std::string::npos)
      << log;
  EXPECT_EQ(ReadFile("TORMEL1.BUF"), Line('$', "waits"));
}

TEST_F(Work, ReceiverClosingMidFileKeepsTheRestForLater) {
  std::atomic<bool> healthy{false};
  TestReceiver receiver([&](int n) { return n == 1 && !healthy ? Reply::Close : Reply::Ack; });
  WriteFile("TORMEL1.BUF", Line('$', "a") + Line('$', "b") + Line('$', "c"));
  EXPECT_EQ(RunUntil(receiver, [] { return ReadFile("TORMEL.LOG").find("SndWithReply!") != std::string::npos; }), 1);
  std::string log = ReadFile("TORMEL.LOG");
  EXPECT_NE(log.find("function=SndWithReply() severity=1 code=9002 secondary=0 "
                     "message=\"Fehler: CSocketRead! ErrorCode: 9002\""),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("function=TormelWork() severity=1 code=9002 secondary=0 "
                     "message=\"Fehler: SndWithReply! ErrorCode: 9002\""),
            std::string::npos)
      << log;
  EXPECT_EQ(ReadFile("TORMEL1.BUF"), Line('*', "a") + Line('$', "b") + Line('$', "c"));

  healthy = true;
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("TORMEL1.BUF"); }), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"a\n", "b\n", "b\n", "c\n"}));
}

TEST_F(Work, ReadOnlyFilesAreSkippedAndLaterNumbersServed) {
  TestReceiver receiver;
  WriteFile("TORMEL1.BUF", Line('$', "read-only"));
  std::filesystem::permissions("TORMEL1.BUF", std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                                 std::filesystem::perms::others_read);
  WriteFile("TORMEL2.BUF", Line('$', "writable"));
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("TORMEL2.BUF"); }), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"writable\n"}));
  EXPECT_EQ(ReadFile("TORMEL1.BUF"), Line('$', "read-only"));
}

TEST_F(Work, FilesGoInNumberOrderAndAGapEndsTheRound) {
  TestReceiver receiver;
  WriteFile("TORMEL1.BUF", Line('$', "file 1"));
  WriteFile("TORMEL2.BUF", Line('$', "file 2"));
  WriteFile("TORMEL10.BUF", Line('$', "file 10"));
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("TORMEL2.BUF"); }), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"file 1\n", "file 2\n"}));

  // With 1 to 9 absent the probe starts over after 9, every 4.5 s.
  config.port = receiver.port;
  OsEventSet(TormelStopEvent);
  auto result = std::async(std::launch::async, [this] { return TormelWork(&config); });
  std::this_thread::sleep_for(std::chrono::milliseconds(5200));
  EXPECT_EQ(Stop(result), 1);
  EXPECT_TRUE(FileExists("TORMEL10.BUF"));
  EXPECT_EQ(receiver.FrameCount(), 2);
}

TEST_F(Work, ProducerAppendingDuringDeliveryLosesNothing) {
  TestReceiver receiver;
  WriteFile("TORMEL1.BUF", Line('$', "seed"));
  std::thread producer([] {
    for (int i = 0; i < 300; ++i) {
      std::string line = Line('$', "record " + std::to_string(i));
      ASSERT_EQ(TormelAppendLine("TORMEL1.BUF", line.data(), line.size()), 0);
      if (i % 25 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  EXPECT_EQ(RunUntil(receiver, [&] { return receiver.FrameCount() >= 301; }), 1);
  producer.join();
  std::set<std::string> got;
  for (const auto& c : Contents(receiver)) got.insert(c);
  for (int i = 0; i < 300; ++i) EXPECT_TRUE(got.count("record " + std::to_string(i) + "\n")) << i;
}

}  // namespace
