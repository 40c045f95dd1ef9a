// The forwarding loop over real buffer files in a temporary folder, against
// a real receiver on 127.0.0.1.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <thread>

#include "buffile.h"
#include "os_file.h"
#include "os_net.h"
#include "os_sync.h"
#include "sockio.h"
#include "test_loop.h"
#include "test_process.h"
#include "test_receiver.h"
#include "test_support.h"
#include "tormel.h"

namespace {

// Milliseconds of the day of a log entry's time stamp ("2026-12-08 16:47:47.123").
long EntryTimeMs(const std::string& entry) {
  int h = 0, m = 0, sec = 0, ms = 0;
  if (sscanf(entry.c_str() + 11, "%d:%d:%d.%d", &h, &m, &sec, &ms) != 4) return -1;
  return ((h * 60L + m) * 60L + sec) * 1000L + ms;
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
    strcpy(config.bufferFile, "TORMEL");  // as start-up derives it from "tormel.buf"
    config.timeout = 1;
    config.window = 1;
    config.stations = TORMEL_DEFAULT_STATIONS;
    config.retryMax = TORMEL_DEFAULT_RETRYMAX;
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
    auto result = std::async(std::launch::async, [this] { return TormelWork(&config, &hooks); });
    bool held = WaitFor(done, deadline);
    EXPECT_TRUE(held) << "condition not reached";
    return Stop(result);
  }

  // Runs the loop (its pauses recorded) until its pause with this number,
  // where it ends.
  int32_t RunToPause(TestReceiver& receiver, size_t pause) {
    PauseRecorder::StopAt(pause);
    return RunUntil(receiver, [pause] { return PauseRecorder::Count() >= pause; });
  }

  // Resets the stop event until the loop has ended, as a controller must:
  // the loop sets the event again right after each check, so a reset that
  // falls between the two is overwritten.
  static int32_t Stop(std::future<int32_t>& result, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    bool ended = WaitFor(
        [&] {
          OsEventReset(TormelStopEvent);
          return result.wait_for(std::chrono::milliseconds(10)) == std::future_status::ready;
        },
        deadline);
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
  TormelHooks hooks;
};

TEST_F(Work, StopEventResetBeforeAPassReturnsAtOnce) {
  TestReceiver receiver;
  WriteFile("TORMEL1.BUF", BufferLine("never sent"));
  OsEventReset(TormelStopEvent);
  config.port = receiver.port;
  EXPECT_EQ(TormelWork(&config, &hooks), 1);
  EXPECT_EQ(receiver.Connections(), 0);
  EXPECT_EQ(ReadFile("TORMEL1.BUF"), BufferLine("never sent"));
  // The loop finds it reset and leaves it so.
  EXPECT_EQ(OsEventIsSet(TormelStopEvent), 0);
}

TEST_F(Work, DeliversPendingRecordsInOrderAndRemovesTheFile) {
  TestReceiver receiver;
  WriteFile("TORMEL1.BUF", BufferLine("first") + BufferLine("already delivered", '*') + BufferLine("a comment line", '#') +
                               BufferLine("second") + BufferLine("third"));
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("TORMEL1.BUF"); }), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"first\n", "second\n", "third\n"}));
  std::string frame = receiver.Frames()[0];
  EXPECT_EQ(frame.substr(0, 20), "10.9.8.7       6665 ");
  EXPECT_EQ(receiver.Connections(), 1);
  EXPECT_EQ(ReadFile("TORMEL.LOG"), "");
}

TEST_F(Work, FilesWithNothingPendingAreConnectedForAndRemoved) {
  TestReceiver receiver;
  WriteFile("TORMEL1.BUF", BufferLine("done", '*') + BufferLine("done too", '*'));
  WriteFile("TORMEL2.BUF", "");  // empty: the address stays as configured
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("TORMEL2.BUF"); }), 1);
  EXPECT_FALSE(FileExists("TORMEL1.BUF"));
  EXPECT_EQ(receiver.Connections(), 2);
  EXPECT_EQ(receiver.FrameCount(), 0);
}

TEST_F(Work, BufferNamesAreUpperCasedCutAtBufAndNumbered) {
  auto name = [](const char* bufferFile, unsigned n) {
    char base[101];
    strcpy(base, bufferFile);
    BufBaseName(base);
    return BufFileName(base, n);
  };
  // A folder is used as written where names are case-sensitive: upper-cased
  // it would name another folder.
  EXPECT_EQ(name("sub/tormel.buf.bak", 12), OsFileNamesIgnoreCase() ? "SUB/TORMEL12.BUF" : "sub/TORMEL12.BUF");
  EXPECT_EQ(name("/var/lib/tormel/queue.buf", 1),
            OsFileNamesIgnoreCase() ? "/VAR/LIB/TORMEL/QUEUE1.BUF" : "/var/lib/tormel/QUEUE1.BUF");
  EXPECT_EQ(name("Queue_\xc3\xa4" "9", 1), "QUEUE_\xc3\xa4" "91.BUF");
  EXPECT_EQ(name("", 3), "3.BUF");

  TestReceiver receiver;
  std::filesystem::create_directory("sub");
  WriteFile("sub/TORMEL1.BUF", BufferLine("from a folder"));
  WriteFile("1.BUF", BufferLine("not this one"));
  strcpy(config.bufferFile, "sub/tormel.buf");
  BufBaseName(config.bufferFile);
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("sub/TORMEL1.BUF"); }), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"from a folder\n"}));
  EXPECT_TRUE(FileExists("1.BUF"));
}

TEST_F(Work, EmptyBufferNameLooksForNumberedFilesAlone) {
  TestReceiver receiver;
  WriteFile("1.BUF", BufferLine("bare"));
  config.bufferFile[0] = '\0';
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("1.BUF"); }), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"bare\n"}));
}

TEST_F(Work, LongLinesGoInPiecesEachJudgedByItsFirstCharacter) {
  TestReceiver receiver;
  // 650 characters before the line end: a piece of 550, then 100 and the LF.
  std::string tail = '$' + std::string(99, 't');
  std::string line = BufferLine(std::string(TORMEL_LINE_MAX - TORMEL_CONTENT_COLUMN, 'h') + tail);
  WriteFile("TORMEL1.BUF", line + BufferLine("after") + "\x1a");
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("TORMEL1.BUF"); }), 1);
  auto frames = receiver.Frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].substr(TORMEL_PREFIX_SIZE), std::string(TORMEL_LINE_MAX - TORMEL_CONTENT_COLUMN, 'h'));
  // The second piece: its own columns 58 on after the prefix.
  EXPECT_EQ(FrameContent(frames[1]), std::string(99 - 57, 't') + "\n");
  EXPECT_EQ(FrameContent(frames[2]), "after\n");
}

// A long run of delivered lines is passed over in turns, the loop serving
// its other work between them; the record behind it goes.
TEST_F(Work, RecordBehindThousandsOfDeliveredLinesGoes) {
  TestReceiver receiver;
  std::string file;
  for (int i = 0; i < 10000; ++i) file += BufferLine("done " + std::to_string(i), '*');
  WriteFile("TORMEL1.BUF", file + BufferLine("behind them"));
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("TORMEL1.BUF"); }), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"behind them\n"}));
}

// "1" is the only acknowledgement: "0" and any other byte leave the record
// pending and the file in place.
TEST_F(Work, RefusedRecordKeepsTheFileWithOnlyTheMarkChanged) {
  for (Reply refusal : {Reply::Refuse, Reply::Garbage}) {
    SCOPED_TRACE(refusal == Reply::Refuse ? "answer 0" : "answer x");
    std::atomic<int> refusals{1};
    TestReceiver receiver([&](int n) { return n == 1 && refusals-- > 0 ? refusal : Reply::Ack; });
    std::string original = BufferLine("one") + BufferLine("two") + BufferLine("three");
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
}

TEST_F(Work, ReceiverDownIsLoggedWithSeverity100AndTheFileKept) {
  uint16_t port;
  {
    TestReceiver gone;
    port = gone.port;
  }
  WriteFile("TORMEL1.BUF", BufferLine("waits"));
  WriteFile("TORMEL2.BUF", BufferLine("waits too"));
  config.port = port;
  OsEventSet(TormelStopEvent);
  auto result = std::async(std::launch::async, [this] { return TormelWork(&config, &hooks); });
  auto entries = [] { return TextLines(ReadFile("TORMEL.LOG")); };
  EXPECT_TRUE(WaitFor([&] { return entries().size() >= 2; }));
  EXPECT_EQ(Stop(result), 1);
  std::string log = ReadFile("TORMEL.LOG");
  // The code is the system's number for a refused connection.
  OsSocket probe;
  int refused = OsTcpConnect(0x7f000001, port, 1000, &probe);
  EXPECT_NE(log.find("function=TormelWork() severity=100 code=0 secondary=0 "
                     "message=\"Fehler: CSocketClientOpen! ErrorCode: " + std::to_string(refused) + "\" detail=\"\""),
            std::string::npos)
      << log;
  EXPECT_EQ(ReadFile("TORMEL1.BUF"), BufferLine("waits"));
  // A receiver that is down is not tried again at once.
  std::vector<std::string> lines = entries();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_GE(EntryTimeMs(lines[1]) - EntryTimeMs(lines[0]), 700) << log;
}

uint16_t ClosedPort() {
  TestReceiver gone;
  return gone.port;
}

// A station that refuses connections is tried again after 1 s, then after
// twice as long each time up to RETRYMAX, whatever the walk does meanwhile;
// each try is logged, and its file stays as it is.
TEST_F(Work, RefusingStationIsTriedAgainAfterADoublingDelay) {
  WriteFile("TORMEL1.BUF", BufferLine("waits"));
  config.port = ClosedPort();
  config.retryMax = 8;
  FakeTime::Install(&hooks);
  const uint64_t start = FakeTime::now;
  OsEventSet(TormelStopEvent);
  auto result = std::async(std::launch::async, [this] { return TormelWork(&config, &hooks); });
  EXPECT_TRUE(WaitFor([] { return TextLines(ReadFile("TORMEL.LOG")).size() >= 7; }));
  EXPECT_EQ(Stop(result), 1);
  // A try happens at the moment of the first pause after which the log
  // holds one more entry: the clock stands still between pauses.
  std::vector<uint64_t> tries;
  for (auto [at, entries] : FakeTime::looks)
    while (tries.size() < entries) tries.push_back(at - start);
  tries.resize(7);
  EXPECT_EQ(tries, (std::vector<uint64_t>{0, 1000, 3000, 7000, 15000, 23000, 31000}));
  EXPECT_EQ(ReadFile("TORMEL1.BUF"), BufferLine("waits"));
}

// A producer's changes wake the walk, but never cut a station's backoff
// short: written to again and again, a file for a refusing station is
// tried no more often than its backoff allows.
TEST_F(Work, ProducersChangesDoNotCutABackoffShort) {
  WriteFile("TORMEL1.BUF", BufferLine("first"));
  config.port = ClosedPort();
  OsEventSet(TormelStopEvent);
  auto result = std::async(std::launch::async, [this] { return TormelWork(&config, &hooks); });
  EXPECT_TRUE(WaitFor([] { return !ReadFile("TORMEL.LOG").empty(); }));
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
    AppendFile("TORMEL1.BUF", BufferLine("more " + std::to_string(i)));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(Stop(result), 1);
  // At once, after a second, and the next not before three.
  EXPECT_LE(TextLines(ReadFile("TORMEL.LOG")).size(), 2u) << ReadFile("TORMEL.LOG");
}

// Files for a station that never answers and for one that refuses come
// first; the live station's record behind them arrives at once. The others
// stay pending, and go once their stations are back.
TEST_F(Work, StationsThatAreDownDelayNoOther) {
  TestReceiver live;
  auto silent = std::make_unique<SilentStation>(TEST_STATION_2, live.port);
  WriteFile("TORMEL1.BUF", BufferLine("to the silent one", '$', "127.0.0.2"));
  WriteFile("TORMEL2.BUF", BufferLine("to the refusing one", '$', "127.0.0.3"));
  WriteFile("TORMEL3.BUF", BufferLine("to the live one"));
  config.port = live.port;
  config.timeout = 10;
  OsEventSet(TormelStopEvent);
  auto result = std::async(std::launch::async, [this] { return TormelWork(&config, &hooks); });
  EXPECT_TRUE(WaitFor([&] { return live.FrameCount() == 1; }, std::chrono::seconds(3)));
  EXPECT_EQ(ReadFile("TORMEL1.BUF"), BufferLine("to the silent one", '$', "127.0.0.2"));
  EXPECT_EQ(ReadFile("TORMEL2.BUF"), BufferLine("to the refusing one", '$', "127.0.0.3"));

  silent.reset();
  TestReceiver second(TEST_STATION_2, live.port), third(TEST_STATION_3, live.port);
  EXPECT_TRUE(WaitFor([] { return !FileExists("TORMEL1.BUF") && !FileExists("TORMEL2.BUF"); },
                      std::chrono::seconds(30)));
  EXPECT_EQ(Stop(result), 1);
  EXPECT_EQ(live.Records(), (std::vector<std::string>{"to the live one"}));
  EXPECT_EQ(second.Records(), (std::vector<std::string>{"to the silent one"}));
  EXPECT_EQ(third.Records(), (std::vector<std::string>{"to the refusing one"}));
}

// Files 1-6 for two stations in turn. Each station gets its own files in the
// order of their numbers, one at a time; with STATIONS above 1 the two go on
// beside each other, with STATIONS 1 every file goes alone, in the order of
// the walk, as the loop always delivered them.
TEST_F(Work, EachStationGetsItsFilesInOrder) {
  for (int32_t stations : {8, 1}) {
    SCOPED_TRACE("STATIONS " + std::to_string(stations));
    TestReceiver a;
    TestReceiver b(TEST_STATION_2, a.port);
    a.delayMs = b.delayMs = 10;
    std::vector<std::string> expectA, expectB, expectAll;
    for (int n = 1; n <= 6; ++n) {
      std::string file, ip = n % 2 == 1 ? "127.0.0.1" : "127.0.0.2";
      for (int k = 0; k < 3; ++k) {
        std::string record = "file " + std::to_string(n) + " record " + std::to_string(k);
        file += BufferLine(record, '$', ip);
        (n % 2 == 1 ? expectA : expectB).push_back(record);
        expectAll.push_back(record);
      }
      WriteFile("TORMEL" + std::to_string(n) + ".BUF", file);
    }
    config.stations = stations;
    EXPECT_EQ(RunUntil(a, [] {
      for (int n = 1; n <= 6; ++n)
        if (FileExists("TORMEL" + std::to_string(n) + ".BUF")) return false;
      return true;
    }), 1);
    EXPECT_EQ(a.Records(), expectA);
    EXPECT_EQ(b.Records(), expectB);
    // Both stations' frames in the order they came.
    std::vector<std::pair<uint64_t, std::string>> all;
    for (TestReceiver* r : {&a, &b}) {
      std::vector<uint64_t> order = r->Sequence();
      std::vector<std::string> records = r->Records();
      for (size_t i = 0; i < records.size(); ++i) all.emplace_back(order[i], records[i]);
    }
    std::sort(all.begin(), all.end());
    std::vector<std::string> merged;
    for (const auto& [order, record] : all) merged.push_back(record);
    if (stations == 1) {
      EXPECT_EQ(merged, expectAll);
    } else {
      EXPECT_NE(merged, expectAll) << "two stations at once interleave";
    }
  }
}

// A station that answers slowly holds up nobody else: the other station's
// file is delivered while the slow one's first records are on their way.
TEST_F(Work, SlowStationDoesNotSlowAnother) {
  TestReceiver slow;
  slow.delayMs = 400;
  TestReceiver fast(TEST_STATION_2, slow.port);
  std::string toSlow, toFast;
  for (int k = 0; k < 10; ++k) {
    toSlow += BufferLine("slow " + std::to_string(k));
    toFast += BufferLine("fast " + std::to_string(k), '$', "127.0.0.2");
  }
  WriteFile("TORMEL1.BUF", toSlow);
  WriteFile("TORMEL2.BUF", toFast);
  config.port = slow.port;
  OsEventSet(TormelStopEvent);
  auto result = std::async(std::launch::async, [this] { return TormelWork(&config, &hooks); });
  EXPECT_TRUE(WaitFor([] { return !FileExists("TORMEL2.BUF"); }));
  EXPECT_LT(slow.FrameCount(), 10) << "the slow station was still at its file";
  EXPECT_TRUE(WaitFor([] { return !FileExists("TORMEL1.BUF"); }));
  EXPECT_EQ(Stop(result), 1);
  EXPECT_EQ(fast.FrameCount(), 10);
}

// A stop request while a connection waits for an answer and another for
// its station to answer at all ends both at once; the records not answered
// stay pending.
TEST_F(Work, StopEndsEveryConnectionAtOnceAndLosesNothing) {
  TestReceiver holding;
  holding.delayMs = 5000;
  SilentStation silent(TEST_STATION_2, holding.port);
  const std::string one = BufferLine("one") + BufferLine("two");
  const std::string other = BufferLine("to the silent one", '$', "127.0.0.2");
  WriteFile("TORMEL1.BUF", one);
  WriteFile("TORMEL2.BUF", other);
  config.port = holding.port;
  config.timeout = 30;
  OsEventSet(TormelStopEvent);
  auto result = std::async(std::launch::async, [this] { return TormelWork(&config, &hooks); });
  ASSERT_TRUE(WaitFor([&] { return holding.FrameCount() == 1; }));
  EXPECT_EQ(Stop(result, std::chrono::seconds(1)), 1);
  EXPECT_EQ(ReadFile("TORMEL1.BUF"), one);
  EXPECT_EQ(ReadFile("TORMEL2.BUF"), other);
  EXPECT_EQ(ReadFile("TORMEL.LOG"), "");
}

TEST_F(Work, ReceiverClosingMidFileKeepsTheRestForLater) {
  std::atomic<bool> healthy{false};
  TestReceiver receiver([&](int n) { return n == 1 && !healthy ? Reply::Close : Reply::Ack; });
  WriteFile("TORMEL1.BUF", BufferLine("a") + BufferLine("b") + BufferLine("c"));
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
  EXPECT_EQ(ReadFile("TORMEL1.BUF"), BufferLine("a", '*') + BufferLine("b") + BufferLine("c"));

  healthy = true;
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("TORMEL1.BUF"); }), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"a\n", "b\n", "b\n", "c\n"}));
}

TEST_F(Work, ReadOnlyFilesAreSkippedAndLaterNumbersServed) {
  TestReceiver receiver;
  WriteFile("TORMEL1.BUF", BufferLine("read-only"));
  std::filesystem::permissions("TORMEL1.BUF", std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                                 std::filesystem::perms::others_read);
  WriteFile("TORMEL2.BUF", BufferLine("writable"));
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("TORMEL2.BUF"); }), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"writable\n"}));
  EXPECT_EQ(ReadFile("TORMEL1.BUF"), BufferLine("read-only"));
}

TEST_F(Work, FilesGoInNumberOrderAndAGapEndsTheRound) {
  TestReceiver receiver;
  WriteFile("TORMEL1.BUF", BufferLine("file 1"));
  WriteFile("TORMEL2.BUF", BufferLine("file 2"));
  WriteFile("TORMEL10.BUF", BufferLine("file 10"));
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("TORMEL2.BUF"); }), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"file 1\n", "file 2\n"}));

  // With 1 to 9 absent the probe starts over after 9, and 10 is never reached.
  PauseRecorder::Install(&hooks);
  EXPECT_EQ(RunToPause(receiver, 20), 1);
  EXPECT_TRUE(FileExists("TORMEL10.BUF"));
  EXPECT_EQ(receiver.FrameCount(), 2);
}

// Text behind a CTRL-Z in the middle of a file is not read, so the file is
// not finished: it stays with what lies behind the mark.
TEST_F(Work, FileWithTextBehindAMiddleCtrlZIsKept) {
  TestReceiver receiver;
  std::string behind = BufferLine("behind the mark");
  WriteFile("TORMEL1.BUF", BufferLine("shown") + "\x1a" + behind);
  PauseRecorder::Install(&hooks);
  // The pause for number 2 comes after file 1 is done with.
  EXPECT_EQ(RunToPause(receiver, 1), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"shown\n"}));
  EXPECT_EQ(ReadFile("TORMEL1.BUF"), BufferLine("shown", '*') + "\x1a" + behind);
}

// Nor does such a file wake the loop: what lies behind the mark is never
// news, so the station is not connected to again until the file's next turn.
TEST_F(Work, TextBehindAMiddleCtrlZWakesNothing) {
  TestReceiver receiver;
  WriteFile("TORMEL1.BUF", BufferLine("shown") + "\x1a" + BufferLine("behind the mark"));
  PauseRecorder::Install(&hooks, true);
  config.port = receiver.port;
  OsEventSet(TormelStopEvent);
  auto result = std::async(std::launch::async, [this] { return TormelWork(&config, &hooks); });
  EXPECT_TRUE(WaitFor([] { return PauseRecorder::Count() >= 4; }));
  EXPECT_EQ(PauseRecorder::Woken(), 0);
  EXPECT_EQ(receiver.Connections(), 1);
  EXPECT_EQ(Stop(result), 1);
}

// A producer holds the lock while the loop finishes the file, then appends
// and lets go: the loop must neither remove the file under it nor wait for
// the lock while other files wait.
TEST_F(Work, RecordAppendedUnderTheLockWhileTheFileIsFinishedIsDelivered) {
  TestReceiver receiver;
  WriteFile("TORMEL1.BUF", BufferLine("first"));
  WriteFile("TORMEL2.BUF", BufferLine("file 2"));
  OsFile producer;
  ASSERT_EQ(OsFileOpenAppend("TORMEL1.BUF", &producer), 0);
  ASSERT_EQ(OsFileLock(producer), 0);
  PauseRecorder::Install(&hooks);  // the file's next turn comes at once
  config.port = receiver.port;
  OsEventSet(TormelStopEvent);
  auto result = std::async(std::launch::async, [this] { return TormelWork(&config, &hooks); });
  // File 2 comes after file 1 in a round: once it is gone, file 1 has had
  // its chance to be removed without the lock.
  EXPECT_TRUE(WaitFor([] { return !FileExists("TORMEL2.BUF"); }));
  EXPECT_EQ(ReadFile("TORMEL1.BUF"), BufferLine("first", '*'));
  // A lock held elsewhere holds up no stop.
  EXPECT_EQ(Stop(result, std::chrono::seconds(1)), 1);
  OsEventSet(TormelStopEvent);
  result = std::async(std::launch::async, [this] { return TormelWork(&config, &hooks); });
  std::string second = BufferLine("second");
  EXPECT_EQ(OsFileAppend(producer, second.data(), second.size()), 0);
  OsFileUnlock(producer);
  OsFileClose(&producer);
  EXPECT_TRUE(WaitFor([&] { return receiver.FrameCount() >= 3 && !FileExists("TORMEL1.BUF"); }));
  EXPECT_EQ(Stop(result), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"first\n", "file 2\n", "second\n"}));
}

// A producer that opens its file once, appends a record now and then and
// closes at the end (stdio, as most programs write): every record arrives,
// and the file goes once the producer has closed it.
TEST_F(Work, ProducerHoldingItsFileOpenLosesNothing) {
  TestReceiver receiver;
  PauseRecorder::Install(&hooks);
  FILE* producer = fopen("TORMEL1.BUF", "ab");
  ASSERT_NE(producer, nullptr);
  auto append = [&](const std::string& content) {
    fputs(BufferLine(content).c_str(), producer);
    fflush(producer);
  };
  append("record 0");
  config.port = receiver.port;
  OsEventSet(TormelStopEvent);
  auto result = std::async(std::launch::async, [this] { return TormelWork(&config, &hooks); });
  for (int i = 1; i <= 3; ++i) {
    // Delivered, and the loop has come round once more after it.
    size_t pauses = 0;
    EXPECT_TRUE(WaitFor([&] { return receiver.FrameCount() == i; }));
    pauses = PauseRecorder::Count();
    EXPECT_TRUE(WaitFor([&] { return PauseRecorder::Count() > pauses + 9; }));
    append("record " + std::to_string(i));
  }
  EXPECT_TRUE(WaitFor([&] { return receiver.FrameCount() == 4; }));
  fclose(producer);
  EXPECT_TRUE(WaitNoBufferFileLeft("."));
  EXPECT_EQ(Stop(result), 1);
  EXPECT_EQ(Contents(receiver),
            (std::vector<std::string>{"record 0\n", "record 1\n", "record 2\n", "record 3\n"}));
}

// A record written in two pieces with a pause between goes whole, once its
// line end has come. A last line that never gets one goes once its file has
// been quiet for a while.
TEST_F(Work, RecordWrittenInPiecesIsSentWhole) {
  TestReceiver receiver;
  PauseRecorder::Install(&hooks);
  FILE* producer = fopen("TORMEL1.BUF", "ab");
  ASSERT_NE(producer, nullptr);
  std::string line = BufferLine("written in two pieces");
  fputs(line.substr(0, 70).c_str(), producer);
  fflush(producer);
  config.port = receiver.port;
  OsEventSet(TormelStopEvent);
  auto result = std::async(std::launch::async, [this] { return TormelWork(&config, &hooks); });
  // Several rounds pass over the half line.
  EXPECT_TRUE(WaitFor([&] { return PauseRecorder::Count() > 30; }));
  EXPECT_EQ(receiver.FrameCount(), 0);
  fputs(line.substr(70).c_str(), producer);
  fputs(BufferLine("never ended").substr(0, TORMEL_CONTENT_COLUMN + 11).c_str(), producer);
  fclose(producer);
  EXPECT_TRUE(WaitFor([&] { return receiver.FrameCount() == 2 && !FileExists("TORMEL1.BUF"); }));
  EXPECT_EQ(Stop(result), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"written in two pieces\n", "never ended"}));
}

// Somebody removes the file while it is delivered and a producer starts a
// new one under its name: the new file is not the one to remove.
TEST_F(Work, NameReplacedDuringDeliveryLosesNothing) {
  TestReceiver receiver;
  receiver.delayMs = 100;
  PauseRecorder::Install(&hooks);
  WriteFile("TORMEL1.BUF", BufferLine("old 1") + BufferLine("old 2") + BufferLine("old 3"));
  config.port = receiver.port;
  OsEventSet(TormelStopEvent);
  auto result = std::async(std::launch::async, [this] { return TormelWork(&config, &hooks); });
  EXPECT_TRUE(WaitFor([&] { return receiver.FrameCount() >= 1; }));
  std::filesystem::remove("TORMEL1.BUF");
  std::string line = BufferLine("new");
  ASSERT_EQ(BufAppendLine("TORMEL1.BUF", line.data(), line.size()), 0);
  EXPECT_TRUE(WaitFor([&] { return receiver.FrameCount() >= 4 && !FileExists("TORMEL1.BUF"); }));
  EXPECT_EQ(Stop(result), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"old 1\n", "old 2\n", "old 3\n", "new\n"}));
}

// A buffer file that is a symbolic link is passed over, whatever it points to.
TEST_F(Work, SymbolicLinkIsPassedOver) {
  if (TestOnWindows()) GTEST_SKIP() << "making symbolic links needs a privilege on Windows";
  TestReceiver receiver;
  PauseRecorder::Install(&hooks);
  std::string elsewhere = BufferLine("not a buffer file");
  WriteFile("elsewhere.txt", elsewhere);
  std::filesystem::create_symlink("elsewhere.txt", "TORMEL1.BUF");
  WriteFile("TORMEL2.BUF", BufferLine("file 2"));
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("TORMEL2.BUF"); }), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"file 2\n"}));
  EXPECT_EQ(ReadFile("elsewhere.txt"), elsewhere);
  EXPECT_TRUE(std::filesystem::is_symlink("TORMEL1.BUF"));
}

// A producer's new file ends the loop's pause, and the loop goes on with
// the next number as it would have: the pause after number 3 ends, and files
// 2 and 1, written at once, go in the order 1, 2, without a probe cycle.
// The loop's own changes to a file (marks, closing it) end no pause.
TEST_F(Work, ProducersChangesEndThePauseAndTheOrderStays) {
  TestReceiver receiver;
  PauseRecorder::Install(&hooks, true);
  PauseRecorder::Hold(3);
  config.port = receiver.port;
  OsEventSet(TormelStopEvent);
  auto result = std::async(std::launch::async, [this] { return TormelWork(&config, &hooks); });
  EXPECT_TRUE(WaitFor([] { return PauseRecorder::Count() >= 3; }));
  PlaceFile("TORMEL2.BUF", BufferLine("file 2"));
  PlaceFile("TORMEL1.BUF", BufferLine("file 1"));
  PauseRecorder::Release();
  EXPECT_TRUE(WaitFor([&] { return receiver.FrameCount() == 2; }, std::chrono::milliseconds(400)));
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"file 1\n", "file 2\n"}));
  EXPECT_TRUE(WaitFor([] { return !FileExists("TORMEL1.BUF") && !FileExists("TORMEL2.BUF"); }));
  const int wokenByProducer = PauseRecorder::Woken();
  EXPECT_GE(wokenByProducer, 1);

  // A receiver that refuses: the loop marks nothing but opens and closes
  // the file, and its pauses must run their course.
  TestReceiver refusing([](int) { return Reply::Refuse; });
  EXPECT_EQ(Stop(result), 1);
  config.port = refusing.port;
  WriteFile("TORMEL1.BUF", BufferLine("refused"));
  PauseRecorder::Install(&hooks, true);
  OsEventSet(TormelStopEvent);
  result = std::async(std::launch::async, [this] { return TormelWork(&config, &hooks); });
  EXPECT_TRUE(WaitFor([&] { return refusing.FrameCount() >= 1 && PauseRecorder::Count() >= 4; }));
  EXPECT_EQ(PauseRecorder::Woken(), 0);
  EXPECT_EQ(Stop(result), 1);
}

// With a window, frames go out before earlier answers are in; each "1"
// marks its record as it comes. A refusal in the middle stops the sending,
// yet the records the receiver took after it are marked; the refused one
// stays pending and the file is kept for its next turn.
TEST_F(Work, WindowMarksWhatWasTakenAroundARefusal) {
  std::atomic<bool> healthy{false};
  TestReceiver receiver([&](int n) { return n == 2 && !healthy ? Reply::Refuse : Reply::Ack; });
  // Answers come 30 ms apart: four frames go out at once, and one more
  // after each of the first two answers; none after the refusal.
  receiver.delayMs = 30;
  std::vector<std::string> records;
  std::string file;
  for (int i = 0; i < 10; ++i) {
    records.push_back(BufferLine("record " + std::to_string(i)));
    file += records.back();
  }
  WriteFile("TORMEL1.BUF", file);
  config.window = 4;
  PauseRecorder::Install(&hooks);
  // The pause for number 2 comes once file 1 is done with.
  EXPECT_EQ(RunToPause(receiver, 1), 1);
  EXPECT_EQ(receiver.FrameCount(), 6);
  std::string expected = file;
  for (int i : {0, 1, 3, 4, 5}) expected[i * records[0].size()] = '*';
  EXPECT_EQ(ReadFile("TORMEL1.BUF"), expected);
  EXPECT_EQ(ReadFile("TORMEL.LOG"), "");

  // The next turn sends what is still pending, the refused record first.
  healthy = true;
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("TORMEL1.BUF"); }), 1);
  std::vector<std::string> contents = Contents(receiver);
  EXPECT_EQ(std::vector<std::string>(contents.begin() + 6, contents.end()),
            (std::vector<std::string>{"record 2\n", "record 6\n", "record 7\n", "record 8\n", "record 9\n"}));
}

// The receiver goes away in the middle of a window, or stops answering a
// full one: what was answered is marked, the rest stays pending, and the
// failure is logged as a failed exchange is.
TEST_F(Work, WindowCutShortKeepsTheUnansweredPending) {
  std::string file;
  for (int i = 0; i < 6; ++i) file += BufferLine("record " + std::to_string(i));
  config.window = 4;
  for (Reply fault : {Reply::Close, Reply::Silent}) {
    SCOPED_TRACE(fault == Reply::Close ? "closed" : "silent");
    TestReceiver receiver([&](int n) { return n == 3 || fault == Reply::Silent ? fault : Reply::Ack; });
    receiver.delayMs = 30;
    WriteFile("TORMEL1.BUF", file);
    WriteFile("TORMEL.LOG", "");
    PauseRecorder::Install(&hooks);
    EXPECT_EQ(RunToPause(receiver, 1), 1);
    int answered = fault == Reply::Close ? 3 : 0;
    std::string expected = file;
    for (int i = 0; i < answered; ++i) expected[i * (file.size() / 6)] = '*';
    EXPECT_EQ(ReadFile("TORMEL1.BUF"), expected);
    // A receiver that closes with frames unread resets the connection: the
    // system's code then, not the library's for a close.
    std::vector<std::string> entries = TextLines(ReadFile("TORMEL.LOG"));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_NE(entries[0].find("function=SndWithReply() severity=1 code="), std::string::npos) << entries[0];
    EXPECT_NE(entries[0].find("message=\"Fehler: CSocketRead! ErrorCode: "), std::string::npos) << entries[0];
    EXPECT_NE(entries[1].find("function=TormelWork() severity=1 code="), std::string::npos) << entries[1];
    EXPECT_NE(entries[1].find("message=\"Fehler: SndWithReply! ErrorCode: "), std::string::npos) << entries[1];
    if (fault == Reply::Silent) {
      EXPECT_NE(entries[0].find("ErrorCode: 9001\""), std::string::npos) << entries[0];
    }
  }
}

// A record followed by a last line that its producer is still writing: the
// record goes, the half line waits, and neither the loop's mark nor its
// close of the file ends a pause, so the station is not connected to again
// until the number's next turn.
TEST_F(Work, HalfWrittenLastLineWakesNothing) {
  TestReceiver receiver;
  FILE* producer = fopen("TORMEL1.BUF", "ab");
  ASSERT_NE(producer, nullptr);
  fputs((BufferLine("whole") + BufferLine("half").substr(0, TORMEL_CONTENT_COLUMN + 2)).c_str(), producer);
  fflush(producer);
  PauseRecorder::Install(&hooks, true);
  config.port = receiver.port;
  OsEventSet(TormelStopEvent);
  auto result = std::async(std::launch::async, [this] { return TormelWork(&config, &hooks); });
  EXPECT_TRUE(WaitFor([&] { return receiver.FrameCount() == 1; }));
  EXPECT_TRUE(WaitFor([] { return PauseRecorder::Count() >= 4; }));
  EXPECT_EQ(PauseRecorder::Woken(), 0);
  EXPECT_EQ(receiver.Connections(), 1);
  fclose(producer);
  EXPECT_EQ(Stop(result), 1);
}

// A delivered file that its producer still holds waits under its private
// name; as long as nothing is added, its later turns cost the station no
// connection.
TEST_F(Work, HeldDeliveredFileCostsNoFurtherConnection) {
  TestReceiver receiver;
  FILE* producer = fopen("TORMEL1.BUF", "ab");
  ASSERT_NE(producer, nullptr);
  fputs(BufferLine("record").c_str(), producer);
  fflush(producer);
  PauseRecorder::Install(&hooks);  // pauses of a moment: many turns
  config.port = receiver.port;
  OsEventSet(TormelStopEvent);
  auto result = std::async(std::launch::async, [this] { return TormelWork(&config, &hooks); });
  EXPECT_TRUE(WaitFor([&] { return receiver.FrameCount() == 1; }));
  const size_t pauses = PauseRecorder::Count();
  EXPECT_TRUE(WaitFor([&] { return PauseRecorder::Count() > pauses + 30; }));
  EXPECT_EQ(receiver.Connections(), 1);
  fclose(producer);
  EXPECT_EQ(Stop(result), 1);
}

// A producer writes half a record, closes the file, and finishes the line in
// a second open a second later, within the quiet time: however often the
// loop looks meanwhile, the half line never leaves on its own.
TEST_F(Work, LineFinishedInALaterOpenWithinTheQuietTimeGoesWhole) {
  TestReceiver receiver;
  const std::string line = BufferLine("finished in a second open");
  WriteFile("TORMEL1.BUF", line.substr(0, 70));
  PauseRecorder::Install(&hooks);  // pauses of a moment: the loop looks again and again
  config.port = receiver.port;
  OsEventSet(TormelStopEvent);
  auto result = std::async(std::launch::async, [this] { return TormelWork(&config, &hooks); });
  std::this_thread::sleep_for(std::chrono::seconds(1));  // the producer's pause
  AppendFile("TORMEL1.BUF", line.substr(70));
  EXPECT_TRUE(WaitFor([] { return !FileExists("TORMEL1.BUF"); }));
  EXPECT_EQ(Stop(result), 1);
  EXPECT_EQ(Contents(receiver), (std::vector<std::string>{"finished in a second open\n"}));
}

// Three cases of a window of four: a station that answers one frame twice is
// out of step at once (9008), not after the time-out; a refusal of the
// file's last record keeps the file with that record pending; answers that
// come steadily, each within the time-out, never time the connection out
// however long the whole file takes.
TEST_F(Work, WindowSeesASecondAnswerAtOnce) {
  // One record: the second answer cannot be taken for another's.
  TestReceiver receiver([](int n) { return n == 0 ? Reply::Twice : Reply::Ack; });
  WriteFile("TORMEL1.BUF", BufferLine("one"));
  config.window = 4;
  config.timeout = 30;
  PauseRecorder::Install(&hooks);
  EXPECT_EQ(RunToPause(receiver, 1), 1);
  std::string log = ReadFile("TORMEL.LOG");
  EXPECT_NE(log.find("message=\"Fehler: CSocketRead! ErrorCode: 9008\""), std::string::npos) << log;
  EXPECT_NE(log.find("message=\"Fehler: SndWithReply! ErrorCode: 9008\""), std::string::npos) << log;
  EXPECT_TRUE(FileExists("TORMEL1.BUF")) << "the exchange failed: the file waits for its next turn";
}

TEST_F(Work, WindowKeepsAFileWhoseLastRecordWasRefused) {
  // Fewer records than the window: all are read before the first answer.
  TestReceiver receiver([](int n) { return n == 2 ? Reply::Refuse : Reply::Ack; });
  std::string file;
  for (int i = 0; i < 3; ++i) file += BufferLine("record " + std::to_string(i));
  WriteFile("TORMEL1.BUF", file);
  config.window = 4;
  PauseRecorder::Install(&hooks);
  EXPECT_EQ(RunToPause(receiver, 1), 1);
  std::string expected = file;
  for (int i = 0; i < 2; ++i) expected[i * (file.size() / 3)] = '*';
  EXPECT_EQ(ReadFile("TORMEL1.BUF"), expected);
}

TEST_F(Work, WindowTimeOutRunsFromTheLastAnswer) {
  TestReceiver receiver;
  receiver.delayMs = 300;  // one answer every 300 ms, six in all: longer than the time-out
  std::string file;
  for (int i = 0; i < 6; ++i) file += BufferLine("record " + std::to_string(i));
  WriteFile("TORMEL1.BUF", file);
  config.window = 4;
  config.timeout = 1;
  EXPECT_EQ(RunUntil(receiver, [] { return !FileExists("TORMEL1.BUF"); }), 1);
  EXPECT_EQ(receiver.FrameCount(), 6);
  EXPECT_EQ(ReadFile("TORMEL.LOG"), "");
}

}  // namespace
