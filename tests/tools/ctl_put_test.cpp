// tormelctl put: the exact line it appends, and what it refuses.
#include <filesystem>

#include "ctl_fixture.h"

namespace {

using Put = CtlTest;

TEST_F(Put, CreatesThenAppendsInTheBufferFormat) {
  std::string params = WriteParams(6665);
  CtlResult r = Ctl({"put", "--config", params, "--number", "3", "--to", "192.168.100.200", "first record"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "appended to TORMEL3.BUF\n");
  std::string first = "$" + std::string(37, ' ') + "192.168.100.200" + "     " + "first record\r\n";
  EXPECT_EQ(ReadFile(dir.Path("TORMEL3.BUF")), first);

  // An address of 15 characters fills its column. Options in any order; "--"
  // lets a record begin with dashes; the longest record that a buffer line
  // holds.
  std::string longest(491, 'r');
  EXPECT_EQ(Ctl({"put", "--to", "192.168.100.200", "--number", "3", "--config", params, "--", "--dashes"}).status, 0);
  EXPECT_EQ(Ctl({"put", "--config", params, "--number", "3", "--to", "192.168.100.200", longest}).status, 0);
  std::string expected = first + BufferLine("--dashes", '$', "192.168.100.200") + BufferLine(longest, '$', "192.168.100.200");
  EXPECT_EQ(ReadFile(dir.Path("TORMEL3.BUF")), expected);
  EXPECT_EQ(BufferLine(longest, '$', "192.168.100.200").size(), 551u) << "550 characters as read, CR LF counted as one";

  // The file's first line names its receiver; a record for another would go astray.
  r = Ctl({"put", "--config", params, "--number", "3", "--to", "10.0.0.1", "elsewhere"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tormelctl: TORMEL3.BUF is for the receiver 192.168.100.200; a record for 10.0.0.1 would be sent "
                   "there\n");
  EXPECT_EQ(ReadFile(dir.Path("TORMEL3.BUF")), expected);
}

TEST_F(Put, RefusesWhatTheServiceCouldNotReadBack) {
  std::string params = WriteParams(6665);
  struct Case {
    std::string number, to, record, message;
  } cases[] = {
      {"1", "127.0.0.1", "two\nlines", "tormelctl: the record holds a line end (CR or LF); a record is one line\n"},
      {"1", "127.0.0.1", "carriage\rreturn", "tormelctl: the record holds a line end (CR or LF); a record is one line\n"},
      {"1", "127.0.0.1", "end\x1aof text",
       "tormelctl: the record holds a CTRL-Z, which ends the readable text of a buffer file\n"},
      {"1", "127.0.0.1", std::string(492, 'r'),
       "tormelctl: the record is 492 characters long; at most 491 fit, since a buffer line holds at most 550 "
       "characters with its line end\n"},
      {"1", "1.2.3", "x", "tormelctl: the receiver address \"1.2.3\" is not a dotted IPv4 address of at most 15 characters\n"},
      {"1", "256.1.1.1", "x", ""},
      {"1", "1.2.3.4.5", "x", ""},
      {"1", " 1.2.3.4", "x", ""},
      {"1", "localhost", "x", ""},
      {"1", "", "x", ""},
      {"0", "127.0.0.1", "x", "tormelctl: the buffer file number \"0\" is not a positive number\n"},
      {"-2", "127.0.0.1", "x", ""},
      {"one", "127.0.0.1", "x", ""},
      {"4294967296", "127.0.0.1", "x", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("number " + c.number + ", to \"" + c.to + "\"");
    CtlResult r = Ctl({"put", "--config", params, "--number", c.number, "--to", c.to, c.record});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    if (!c.message.empty()) {
      EXPECT_EQ(r.err, c.message);
    } else {
      EXPECT_EQ(r.err.rfind("tormelctl: the ", 0), 0u) << r.err;
    }
  }
  EXPECT_FALSE(FileExists(dir.Path("TORMEL1.BUF")));
}

// A write that fails half-way (here at the file size limit) leaves the
// file as it was; the next record begins on a line of its own although the
// file's last line, a producer's half line, has no line end.
TEST_F(Put, FailedWriteLeavesTheFileAsItWas) {
  if (TestOnWindows()) GTEST_SKIP() << "no file size limit on Windows to make a write fail half-way";
  std::string params = WriteParams(6665);
  std::string before = BufferLine("first") + BufferLine("half a line", '$', "127.0.0.1", "");
  WriteFile(dir.Path("TORMEL1.BUF"), before);
  std::string limit = "--fsize=" + std::to_string(before.size() + 30);
  CtlResult r;
  r.status = RunProgram("/usr/bin/prlimit", {limit, TORMELCTL_BIN, "put", "--config", params, "--number", "1", "--to",
                                      "127.0.0.1", "does not fit below the limit"},
                 &r.out, &r.err);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("tormelctl: cannot append to TORMEL1.BUF: "), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(dir.Path("TORMEL1.BUF")), before);

  EXPECT_EQ(Ctl({"put", "--config", params, "--number", "1", "--to", "127.0.0.1", "second"}).status, 0);
  EXPECT_EQ(ReadFile(dir.Path("TORMEL1.BUF")), before + "\r\n" + BufferLine("second"));
}

// A buffer file name that is a symbolic link is refused at once: put never
// writes through it, and never spins on it.
TEST_F(Put, RefusesANameThatIsASymbolicLink) {
  if (TestOnWindows()) GTEST_SKIP() << "making symbolic links needs a privilege on Windows";
  std::string params = WriteParams(6665);
  WriteFile(dir.Path("elsewhere"), "");
  std::filesystem::create_symlink("elsewhere", dir.Path("TORMEL1.BUF"));
  CtlResult r = Ctl({"put", "--config", params, "--number", "1", "--to", "127.0.0.1", "x"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("tormelctl: cannot append to TORMEL1.BUF: ", 0), 0u) << r.err;
  EXPECT_EQ(ReadFile(dir.Path("elsewhere")), "");
}

}  // namespace
