// tormelctl status without a service: events, buffer files, and that looking
// changes nothing.
#include <filesystem>

#include "ctl_fixture.h"
#include "os_file.h"

namespace {

using Status = CtlTest;

TEST_F(Status, NoServiceNoEventsNoFiles) {
  CtlResult r = Ctl({"status", WriteParams(6665)});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "instance: not running\n"
            "StopTormelEvent: absent\n"
            "StartTormelEvent: absent\n"
            "state: not current: the service does not run\n"
            "buffer files: 0\n");
}

TEST_F(Status, ListsBufferFilesInNumberOrderWithTheirCounts) {
  std::string params = WriteParams(6665);
  // Two files the service would read, numbered so that name order and number
  // order differ, and names it would never open.
  std::string two = BufferLine("a", '$', "10.1.2.3") + BufferLine("b", '*', "10.1.2.3") +
                    BufferLine("c", '$', "10.1.2.3") + "# a note passed over\r\n" + BufferLine("d", '*', "10.1.2.3");
  // A line longer than the service reads at once: its second piece starts
  // with "$" and counts as a record of its own, as the service would send it.
  std::string longContent(TORMEL_LINE_MAX - TORMEL_CONTENT_COLUMN, 'x');
  longContent += "$tail";
  std::string ten = BufferLine(longContent) + BufferLine("last") + "\x1a";
  WriteFile(dir.Path("TORMEL2.BUF"), two);
  WriteFile(dir.Path("TORMEL10.BUF"), ten);
  // Retired while a producer held it open, and never sent behind a CTRL-Z.
  WriteFile(dir.Path(".TORMEL2.BUF.retired-4"), BufferLine("held", '$', "10.1.2.3") + "\x1a" + BufferLine("x", '$', "10.1.2.3"));
  WriteFile(dir.Path("TORMEL02.BUF"), BufferLine("leading zero", '$', "10.9.9.9"));
  WriteFile(dir.Path("TORMEL.BUF"), BufferLine("no number", '$', "10.9.9.9"));
  WriteFile(dir.Path("tormel3.buf"), BufferLine("lower case", '$', "10.9.9.9"));
  std::filesystem::create_directory(dir.Path("TORMEL4.BUF"));

  OsEvent stop;
  ASSERT_EQ(OsEventCreate(TORMEL_STOP_EVENT_NAME, false, &stop), 0);
  // Held open: a kernel event ends with its last handle.
  CtlResult r = Ctl({"status", params});
  OsEventClose(&stop);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "instance: not running\n"
            "StopTormelEvent: reset\n"
            "StartTormelEvent: absent\n"
            "state: not current: the service does not run\n"
            "buffer files: " + std::string(OsFileNamesIgnoreCase() ? "4" : "3") + "\n"
            ".TORMEL2.BUF.retired-4: receiver 10.1.2.3, 1 pending, 0 delivered, retired from TORMEL2.BUF (it goes once "
            "nobody holds it open and its marks are on the disk), 61 bytes behind a CTRL-Z that are never sent\n"
            "TORMEL2.BUF: receiver 10.1.2.3, 2 pending, 2 delivered\n" +
                // The service finds it where names ignore case.
                std::string(OsFileNamesIgnoreCase() ? "tormel3.buf: receiver 10.9.9.9, 1 pending, 0 delivered\n" : "") +
                "TORMEL10.BUF: receiver 127.0.0.1, 3 pending, 0 delivered\n");
  // The trailing CTRL-Z that the service strips when it opens a file for
  // update stays: status only looks.
  EXPECT_EQ(ReadFile(dir.Path("TORMEL10.BUF")), ten);
  EXPECT_EQ(ReadFile(dir.Path("TORMEL2.BUF")), two);
}

TEST_F(Status, BufferFilesInAFolderAndFilesWithoutAddress) {
  // The folder is used as written where names are case-sensitive.
  const std::string folder = OsFileNamesIgnoreCase() ? "SPOOL" : "spool";
  std::filesystem::create_directory(dir.Path("spool"));
  std::string params = WriteParams(6665, "BUFFDATEI = spool/out.buf\r\n", "SPOOL.INI");
  WriteFile(dir.Path("spool/OUT1.BUF"), "$ too short\r\n");
  WriteFile(dir.Path("spool/OUT7.BUF"), "");
  CtlResult r = Ctl({"status", params});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("buffer files: 2\n" + folder + "/OUT1.BUF: receiver (none), 1 pending, 0 delivered\n" + folder +
                       "/OUT7.BUF: receiver (none), 0 pending, 0 delivered\n"),
            std::string::npos)
      << r.out;
}

// A runtime folder that others may write is refused: status cannot tell,
// and neither status nor stop passes that for an answer.
TEST_F(Status, UnusableRuntimeFolderIsNoAnswer) {
  if (TestOnWindows()) GTEST_SKIP() << "POSIX only: the named objects need no folder on Windows";
  std::filesystem::create_directory(dir.Path("run"));
  std::filesystem::permissions(dir.Path("run"), std::filesystem::perms::all);
  CtlResult r = Ctl({"status", WriteParams(6665)});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("instance: unknown (TORMEL_MTX cannot be reached: ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("StopTormelEvent: unknown (cannot be reached: "), std::string::npos) << r.out;
  r = Ctl({"stop"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("tormelctl: cannot tell whether an instance runs: cannot reach TORMEL_MTX: ", 0), 0u) << r.err;
}

TEST_F(Status, UnreadableParameterFileStillShowsTheInstance) {
  CtlResult r = Ctl({"status", dir.Path("NONE.INI")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "instance: not running\n"
            "StopTormelEvent: absent\n"
            "StartTormelEvent: absent\n"
            "state: not current: the service does not run\n"
            "buffer files: unknown, the parameter file does not read\n");
  EXPECT_EQ(r.err, "tormel: " + dir.Path("NONE.INI") + ": the file cannot be opened (-2)\n");
}

}  // namespace
