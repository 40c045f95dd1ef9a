// The service and tormelctl against what only POSIX has: the signals that
// operators and the system send, and FIFOs and devices in place of the
// parameter file.
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>

#include "service_fixture.h"

namespace {

using PosixService = Service;

// SIGHUP, SIGQUIT: a stop like SIGTERM. The signals whose default would end
// the program for nothing are ignored: sent before the stop, any of them
// that ended the service would show in its exit status.
TEST_F(PosixService, HangUpAndQuitStopCleanlyAndStraySignalsAreIgnored) {
  TestReceiver receiver;
  std::string params = WriteParams(receiver.port);
  for (int stop : {SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(stop);
    std::string name = dir.Path("TORMEL1.BUF");
    WriteFile(name, BufferLine("one per run"));
    ChildProcess service = Start({params});
    ASSERT_TRUE(WaitFor([&] { return !FileExists(name); }));
    for (int stray : {SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE, SIGXFSZ}) SendSignal(service, stray);
    SendSignal(service, stop);
    EXPECT_EQ(WaitExit(service, std::chrono::seconds(10)), 0);
  }
  EXPECT_EQ(receiver.FrameCount(), 2);
  EXPECT_EQ(ReadFile(dir.Path("tormel.log")), "");
}

// A parameter file that would block an open or never end: refused at once
// with the usual line, by the service and by tormelctl check alike.
TEST_F(PosixService, FifoDeviceAndFolderAsParameterFileAreRefusedAtOnce) {
  std::string fifo = dir.Path("fifo.ini");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directory(dir.Path("folder.ini"));
  for (const std::string& path : {fifo, std::string("/dev/zero"), dir.Path("folder.ini")}) {
    SCOPED_TRACE(path);
    std::string err;
    // Far more than an open takes; a blocked open would never end.
    EXPECT_EQ(RunProcess(TORMEL_BIN, {path}, dir.path, env, nullptr, &err, std::chrono::seconds(10)), 1);
    EXPECT_EQ(err, "tormel: " + path + ": the file cannot be opened (-2)\n");
    std::string out;
    EXPECT_EQ(RunProcess(TORMELCTL_BIN, {"check", path}, dir.path, env, &out, nullptr, std::chrono::seconds(10)), 1);
    EXPECT_NE(out.find("the file cannot be opened (-2)"), std::string::npos) << out;
  }
  // A link to a regular parameter file is still read.
  std::filesystem::create_symlink(WriteParams(1), dir.Path("link.ini"));
  EXPECT_EQ(RunProcess(TORMELCTL_BIN, {"check", dir.Path("link.ini")}, dir.path, env), 0);
}

}  // namespace

namespace {

// A producer holds its file open with a whole record and the first half of
// the next, finishes the line and closes just while the service asks the
// system whether anybody still writes the file (the search through /proc is
// held there by the preloaded library). The half line must not go out as a
// record: it goes once whole.
TEST_F(PosixService, LineFinishedWhileTheServiceAsksWhoWritesItGoesWhole) {
  TestReceiver receiver;
  const std::string buffer = dir.Path("TORMEL1.BUF");
  const std::string second = BufferLine("the second record, finished late");
  FILE* producer = fopen(buffer.c_str(), "abe");
  ASSERT_NE(producer, nullptr);
  fputs((BufferLine("the first record") + second.substr(0, 70)).c_str(), producer);
  fflush(producer);
  const std::string hold = dir.Path("proc-search");
  env["LD_PRELOAD"] = TORMEL_FAULT_READ_LIB;
  env["TORMEL_HOLD_PROC_SEARCH"] = hold;
  env["ASAN_OPTIONS"] = "verify_asan_link_order=0";
  ChildProcess service = Start({WriteParams(receiver.port)});
  ASSERT_TRUE(WaitFor([&] { return FileExists(hold + ".searching"); }, std::chrono::seconds(20)));
  fputs(second.substr(70).c_str(), producer);
  fclose(producer);
  WriteFile(hold + ".go", "");
  EXPECT_TRUE(WaitFor([&] { return !FileExists(buffer); }, std::chrono::seconds(20)));
  SendSignal(service, SIGTERM);
  EXPECT_EQ(WaitExit(service, std::chrono::seconds(5)), 0);
  std::vector<std::string> records = receiver.Records();
  EXPECT_EQ(records, (std::vector<std::string>{"the first record", "the second record, finished late"}));
}

}  // namespace
