// The service program end to end: started as a process with a parameter
// file, delivering to a real receiver, stopped by signal or event.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <map>
#include <string>

#include "os_file.h"
#include "os_process.h"
#include "service_fixture.h"

namespace {

TEST_F(Service, DeliversThenStopsWithStatus0OnSigterm) {
  TestReceiver receiver;
  WriteFile(dir.Path("TORMEL1.BUF"), BufferLine("alpha") + BufferLine("beta"));
  ChildProcess service = Start({WriteParams(receiver.port)});
  EXPECT_TRUE(WaitFor([&] { return !FileExists(dir.Path("TORMEL1.BUF")); }));
  EXPECT_EQ(TestEventState(TORMEL_START_EVENT_NAME), 1);
  // Held open, so that it outlives the service where a kernel event ends
  // with its last handle.
  OsEvent stop;
  ASSERT_EQ(OsEventOpen(TORMEL_STOP_EVENT_NAME, &stop), 0);
  SendSignal(service, SIGTERM);
  EXPECT_EQ(WaitExit(service, std::chrono::seconds(5)), 0);
  ASSERT_EQ(receiver.FrameCount(), 2);
  EXPECT_EQ(FrameContent(receiver.Frames()[1]), "beta\n");
  EXPECT_EQ(ReadFile(dir.Path("tormel.log")), "");
  EXPECT_EQ(ReadFile(service.errPath), "");
  EXPECT_EQ(OsEventIsSet(stop), 1) << "shutdown sets the stop event again";
  OsEventClose(&stop);
}

// A first service runs in the folder; a second one, started there with the
// environment `second`, ends at once with status 2 (its standard error in
// *err), and the first goes on delivering until `stop` ends it.
void ExpectSecondEndsAndTheFirstGoesOn(Service& folder, const std::map<std::string, std::string>& second,
                                       std::string* err, int stop) {
  TestReceiver receiver;
  std::string params = folder.WriteParams(receiver.port);
  ChildProcess first = folder.Start({params});
  ASSERT_TRUE(WaitFor([&] { return TestEventState(TORMEL_START_EVENT_NAME) == 1; }));
  EXPECT_EQ(RunProcess(TORMEL_BIN, {params}, folder.dir.path, second, nullptr, err), 2);
  PlaceFile(folder.Buffer(1), BufferLine("still served"));
  EXPECT_TRUE(WaitFor([&] { return receiver.FrameCount() == 1; }));
  SendSignal(first, stop);
  EXPECT_EQ(WaitExit(first, std::chrono::seconds(5)), 0);
  EXPECT_EQ(receiver.FrameCount(), 1);
}

TEST_F(Service, SecondInstanceExits2WhileTheFirstKeepsWorking) {
  std::string err;
  ExpectSecondEndsAndTheFirstGoesOn(*this, env, &err, SIGINT);
  EXPECT_EQ(err, "tormel: another instance is running\n");
}

TEST_F(Service, FaultyOrMissingParameterFileExits1WithOneLineAndNoLog) {
  std::string err;
  std::string missing = dir.Path("NONE.INI");
  EXPECT_EQ(RunProcess(TORMEL_BIN, {missing}, dir.path, env, nullptr, &err), 1);
  EXPECT_EQ(err, "tormel: " + missing + ": the file cannot be opened (-2)\n");

  std::string faulty = dir.Path("FAULTY.INI");
  WriteFile(faulty, "KEYINI\r\n[TORMEL]\r\nXFRIP = 127.0.0.1\r\nLOGDATEI = tormel.log\r\n\r\nXFRPORT 6665\r\n");
  EXPECT_EQ(RunProcess(TORMEL_BIN, {faulty}, dir.path, env, nullptr, &err), 1);
  EXPECT_EQ(err, "tormel: " + faulty + " line 6: \"=\" expected after a key (-23)\n");
  EXPECT_FALSE(FileExists(dir.Path("tormel.log")));

  // The arguments together are the path, joined by single blanks.
  WriteFile(dir.Path("MY PARAMS.INI"), "not a parameter file\r\n");
  EXPECT_EQ(RunProcess(TORMEL_BIN, {dir.Path("MY"), "PARAMS.INI"}, dir.path, env, nullptr, &err), 1);
  EXPECT_EQ(err, "tormel: " + dir.Path("MY PARAMS.INI") + " line 1: the file does not begin with the keyword \"KEYINI\" (-20)\n");

  // A log that cannot be opened stops the start too.
  WriteFile(faulty, "KEYINI\r\n[TORMEL]\r\nLOGDATEI = no/such/folder.log\r\n");
  EXPECT_EQ(RunProcess(TORMEL_BIN, {faulty}, dir.path, env, nullptr, &err), 1);
  EXPECT_NE(err.find("tormel: cannot open the error log \"no/such/folder.log\""), std::string::npos) << err;
}

TEST_F(Service, EmptyCommandLineReadsTheDefaultParameterFile) {
  const std::string standard = OsDefaultParameterFile();
  if (FileExists(standard)) GTEST_SKIP() << "this machine has a parameter file installed";
  std::string err;
  EXPECT_EQ(RunProcess(TORMEL_BIN, {}, dir.path, env, nullptr, &err), 1);
  EXPECT_EQ(err, "tormel: " + standard + ": the file cannot be opened (-2)\n");
}

TEST_F(Service, TimeoutOutOfRangeStillRuns) {
  TestReceiver receiver;
  WriteFile(dir.Path("TORMEL1.BUF"), BufferLine("with the default time-out"));
  ChildProcess service = Start({WriteParams(receiver.port, "TIMEOUT = 2000\r\n")});
  EXPECT_TRUE(WaitFor([&] { return !FileExists(dir.Path("TORMEL1.BUF")); }));
  SendSignal(service, SIGTERM);
  EXPECT_EQ(WaitExit(service, std::chrono::seconds(5)), 0);
  EXPECT_EQ(receiver.FrameCount(), 1);
}

TEST_F(Service, StopEventHeldResetBeforeStartEndsAtTheFirstCheck) {
  TestReceiver receiver;
  OsEvent stop;
  ASSERT_EQ(OsEventCreate(TORMEL_STOP_EVENT_NAME, false, &stop), 0);
  OsEvent start;  // held as well: a kernel event ends with its last handle
  ASSERT_EQ(OsEventCreate(TORMEL_START_EVENT_NAME, false, &start), 0);
  WriteFile(dir.Path("TORMEL1.BUF"), BufferLine("not sent"));
  ChildProcess service = Start({WriteParams(receiver.port)});
  EXPECT_EQ(WaitExit(service, std::chrono::seconds(5)), 0);
  EXPECT_EQ(OsEventIsSet(stop), 1);
  EXPECT_EQ(OsEventIsSet(start), 1);
  OsEventClose(&start);
  OsEventClose(&stop);
  EXPECT_TRUE(FileExists(dir.Path("TORMEL1.BUF")));
  EXPECT_EQ(receiver.Connections(), 0);
}

// A stop event that its last holder left reset is gone with the holder: the
// next instance starts afresh and works, and nobody sees it any more.
TEST_F(Service, ResetEventOfAKilledInstanceDoesNotStopTheNext) {
  TestReceiver receiver;
  std::string params = WriteParams(receiver.port);
  ChildProcess first = Start({params});
  ASSERT_TRUE(WaitFor([&] { return TestEventState(TORMEL_START_EVENT_NAME) == 1; }));
  OsEvent stop;
  ASSERT_EQ(OsEventOpen(TORMEL_STOP_EVENT_NAME, &stop), 0);
  SendSignal(first, TEST_SIGKILL);
  EXPECT_EQ(WaitExit(first), 128 + TEST_SIGKILL);
  ASSERT_EQ(OsEventReset(stop), 0);
  OsEventClose(&stop);
  std::string out;
  EXPECT_EQ(RunProcess(TORMELCTL_BIN, {"status", params}, dir.path, env, &out), 0);
  EXPECT_NE(out.find("StopTormelEvent: absent\nStartTormelEvent: absent\n"), std::string::npos) << out;

  WriteFile(dir.Path("TORMEL1.BUF"), BufferLine("after the crash"));
  ChildProcess next = Start({params});
  EXPECT_TRUE(WaitFor([&] { return !FileExists(dir.Path("TORMEL1.BUF")); }));
  SendSignal(next, SIGTERM);
  EXPECT_EQ(WaitExit(next, std::chrono::seconds(10)), 0);
  EXPECT_EQ(receiver.FrameCount(), 1);
}

// A stop while the receiver keeps its answer back, by SIGTERM and by the
// stop event: the service ends long before the time-out, logs nothing, and
// the record stays pending.
TEST_F(Service, StopDuringAnAnswerWaitIsPromptAndNoFault) {
  TestReceiver receiver([](int) { return Reply::Silent; });
  WriteFile(dir.Path("TORMEL1.BUF"), BufferLine("in flight"));
  std::string params = WriteParams(receiver.port, "TIMEOUT = 300\r\n");
  for (bool bySignal : {true, false}) {
    SCOPED_TRACE(bySignal ? "SIGTERM" : "tormelctl stop");
    int frames = receiver.FrameCount();
    ChildProcess service = Start({params});
    ASSERT_TRUE(WaitFor([&] { return receiver.FrameCount() == frames + 1; }));
    if (bySignal) SendSignal(service, SIGTERM);
    else EXPECT_EQ(RunProcess(TORMELCTL_BIN, {"stop", "--timeout", "20"}, dir.path, env), 0);
    EXPECT_EQ(WaitExit(service, std::chrono::seconds(20)), 0) << "a stop waited out the answer's time-out";
    EXPECT_EQ(ReadFile(dir.Path("tormel.log")), "");
    EXPECT_EQ(ReadFile(dir.Path("TORMEL1.BUF")), BufferLine("in flight"));
  }
}

// A receiver that answers "11" to one frame: the second "1" is no answer to
// the next frame. The first record stands delivered, the connection ends
// with 9008 logged, and the next record waits for an answer of its own.
TEST_F(Service, SurplusAnswerIsNoAnswerToTheNextFrame) {
  TestReceiver receiver([](int n) { return n == 0 ? Reply::Twice : Reply::Refuse; });
  WriteFile(dir.Path("TORMEL1.BUF"), BufferLine("one") + BufferLine("two"));
  ChildProcess service = Start({WriteParams(receiver.port)});
  EXPECT_TRUE(WaitFor([&] { return ReadFile(dir.Path("tormel.log")).find("9008") != std::string::npos; }));
  SendSignal(service, SIGTERM);
  EXPECT_EQ(WaitExit(service, std::chrono::seconds(10)), 0);
  EXPECT_EQ(ReadFile(dir.Path("TORMEL1.BUF")), BufferLine("one", '*') + BufferLine("two"));
  EXPECT_NE(ReadFile(dir.Path("tormel.log")).find("message=\"Fehler: SndWithReply! ErrorCode: 9008\""),
            std::string::npos);
}

TEST_F(Service, FolderInPlaceOfABufferFileIsPassedOver) {
  TestReceiver receiver;
  std::string params = WriteParams(receiver.port);
  std::filesystem::create_directory(dir.Path("TORMEL1.BUF"));
  ChildProcess service = Start({params});
  WriteFile(dir.Path("TORMEL2.BUF"), BufferLine("next"));
  EXPECT_TRUE(WaitFor([&] { return !FileExists(dir.Path("TORMEL2.BUF")); }));
  EXPECT_TRUE(IsRunning(service));
  SendSignal(service, SIGTERM);
  EXPECT_EQ(WaitExit(service, std::chrono::seconds(5)), 0);
}

// The instance mutex lives in the runtime folder, which differs between
// environments; the buffer folder's own lock keeps a second service out
// whatever its environment.
TEST_F(Service, SecondServiceOnTheSameBufferFilesExits2WhateverItsRuntimeFolder) {
  std::map<std::string, std::string> elsewhere = env;
  elsewhere["TORMEL_RUNTIME_DIR"] = dir.Path("run2");
  std::string err;
  ExpectSecondEndsAndTheFirstGoesOn(*this, elsewhere, &err, SIGTERM);
  EXPECT_EQ(err.rfind("tormel: another instance is running", 0), 0u) << err;
}

// A producer keeps its file open across a crash of the service: the file
// the service had retired under a private name is taken up by the next
// start, and what the producer wrote meanwhile arrives.
TEST_F(Service, RetiredFileLeftByAKillIsDeliveredAtTheNextStart) {
  if (TestOnWindows()) GTEST_SKIP() << "on Windows a file held open is never renamed, so none is retired";
  TestReceiver receiver;
  std::string params = WriteParams(receiver.port);
  // Not inherited by the service started after it ("e").
  FILE* producer = fopen(dir.Path("TORMEL1.BUF").c_str(), "abe");
  ASSERT_NE(producer, nullptr);
  fputs(BufferLine("before the kill").c_str(), producer);
  fflush(producer);
  ChildProcess service = Start({params});
  EXPECT_TRUE(WaitFor([&] { return receiver.FrameCount() == 1 && !FileExists(dir.Path("TORMEL1.BUF")); }));
  SendSignal(service, TEST_SIGKILL);
  WaitExit(service);
  fputs(BufferLine("after the kill").c_str(), producer);
  fflush(producer);
  service = Start({params});
  EXPECT_TRUE(WaitFor([&] { return receiver.FrameCount() == 2; }));
  fclose(producer);
  EXPECT_TRUE(WaitNoBufferFileLeft(dir.path));
  SendSignal(service, SIGTERM);
  EXPECT_EQ(WaitExit(service, std::chrono::seconds(5)), 0);
  ASSERT_EQ(receiver.FrameCount(), 2);
  EXPECT_EQ(FrameContent(receiver.Frames()[1]), "after the kill\n");
}

// A file that cannot be read is logged and kept; the service goes on with
// the next. The read error comes from a failing read preloaded into the
// service, as a failing disk would give it.
TEST_F(Service, UnreadableFileIsLoggedAndTheNextDelivered) {
  if (std::string(TORMEL_FAULT_READ_LIB).empty()) GTEST_SKIP() << "no preloaded read fault on Windows";
  TestReceiver receiver;
  WriteFile(dir.Path("TORMEL1.BUF"), BufferLine("unreadable"));
  WriteFile(dir.Path("TORMEL2.BUF"), BufferLine("readable"));
  env["LD_PRELOAD"] = TORMEL_FAULT_READ_LIB;
  env["TORMEL_FAULT_READ"] = "TORMEL1.BUF";
  env["ASAN_OPTIONS"] = "verify_asan_link_order=0";
  ChildProcess service = Start({WriteParams(receiver.port)});
  EXPECT_TRUE(WaitFor([&] { return !FileExists(dir.Path("TORMEL2.BUF")); }));
  EXPECT_TRUE(IsRunning(service));
  SendSignal(service, SIGTERM);
  EXPECT_EQ(WaitExit(service, std::chrono::seconds(5)), 0);
  EXPECT_EQ(ReadFile(dir.Path("TORMEL1.BUF")), BufferLine("unreadable"));
  EXPECT_NE(ReadFile(dir.Path("tormel.log"))
                .find("function=TormelWork() severity=1 code=0 secondary=5 "
                      "message=\"Fehler: IP-String aus Xfr-Bufferdatei Nr. 1 lesen (fgets)!\""),
            std::string::npos)
      << ReadFile(dir.Path("tormel.log"));
  EXPECT_EQ(receiver.FrameCount(), 1);
}

// A new file and a record appended to a file the service holds arrive at
// once, not at the next probe of their number (a probe cycle was 4.5 s).
TEST_F(Service, NewFilesAndAppendedRecordsArriveWithoutWaitingForAProbe) {
  TestReceiver receiver;
  ChildProcess service = Start({WriteParams(receiver.port)});
  // The loop watches the folder before it first looks at number 1, so once
  // that file is delivered, every change is told.
  PlaceFile(dir.Path("TORMEL1.BUF"), BufferLine("first look"));
  ASSERT_TRUE(WaitFor([&] { return receiver.FrameCount() == 1 && !FileExists(dir.Path("TORMEL1.BUF")); }));
  const auto soon = std::chrono::milliseconds(400);
  PlaceFile(dir.Path("TORMEL5.BUF"), BufferLine("new file"));
  EXPECT_TRUE(WaitFor([&] { return receiver.FrameCount() == 2; }, soon));
  FILE* producer = fopen(dir.Path("TORMEL1.BUF").c_str(), "ab");
  ASSERT_NE(producer, nullptr);
  for (int i = 1; i <= 3; ++i) {
    fputs(BufferLine("appended " + std::to_string(i)).c_str(), producer);
    fflush(producer);
    EXPECT_TRUE(WaitFor([&] { return receiver.FrameCount() == 2 + i; }, soon)) << "record " << i;
  }
  fclose(producer);
  SendSignal(service, SIGTERM);
  EXPECT_EQ(WaitExit(service, std::chrono::seconds(5)), 0);
  EXPECT_EQ(ReadFile(dir.Path("tormel.log")), "");
}

// Put a new folder in place of the buffer folder: nothing is told about it,
// so the service goes back to probing, says so once, and still delivers.
TEST_F(Service, ReplacedBufferFolderIsProbedAsBefore) {
  TestReceiver receiver;
  std::filesystem::create_directory(dir.Path("spool"));
  ChildProcess service = Start({WriteParams(receiver.port, "TIMEOUT = 1\r\nBUFFDATEI = spool/tormel.buf\r\n")});
  ASSERT_TRUE(WaitFor([&] { return TestEventState(TORMEL_START_EVENT_NAME) == 1; }));
  // Readiness comes before the loop watches the folder; a first delivery
  // shows the watch is open, so that the move below is one it can lose.
  const std::string spool = OsFileNamesIgnoreCase() ? "SPOOL" : "spool";
  PlaceFile(dir.Path(spool + "/TORMEL1.BUF"), BufferLine("before the move"));
  ASSERT_TRUE(WaitFor([&] { return receiver.FrameCount() == 1 && !FileExists(dir.Path(spool + "/TORMEL1.BUF")); }));
  std::error_code ec;
  std::filesystem::rename(dir.Path("spool"), dir.Path("spool.old"), ec);
  if (ec) {
    SendSignal(service, SIGTERM);
    WaitExit(service);
    GTEST_SKIP() << "the folder cannot be renamed while the service has files in it open: " << ec.message();
  }
  std::filesystem::create_directory(dir.Path("spool"));
  PlaceFile(dir.Path(spool + "/TORMEL1.BUF"), BufferLine("into the new folder"));
  PlaceFile(dir.Path(spool + "/TORMEL2.BUF"), BufferLine("and once more"));
  EXPECT_TRUE(WaitFor([&] { return receiver.FrameCount() == 3; }));
  SendSignal(service, SIGTERM);
  EXPECT_EQ(WaitExit(service, std::chrono::seconds(5)), 0);
  std::vector<std::string> entries = TextLines(ReadFile(dir.Path("tormel.log")));
  ASSERT_EQ(entries.size(), 1u) << ReadFile(dir.Path("tormel.log"));
  EXPECT_NE(entries[0].find("severity=100 code=0 secondary=0 "
                            "message=\"Fehler: Keine Meldung von Aenderungen im Xfr-Buffer-Ordner!\""),
            std::string::npos)
      << entries[0];
}

}  // namespace
