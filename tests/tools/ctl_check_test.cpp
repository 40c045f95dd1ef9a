// tormelctl check, and the command line as a whole.
#include <filesystem>

#include "ctl_fixture.h"

namespace {

using Check = CtlTest;

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(Check, GoodFileListsEveryKeyAndCreatesNothing) {
  std::string path = WriteParams(6665);
  CtlResult r = Ctl({"check", path});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "parameter file: " + path + "\n" +
                       "XFRIP      = 127.0.0.1   (found, valid)\n"
                       "XFRPORT    = 6665   (found, valid)\n"
                       "BUFFDATEI  = tormel.buf   (found, valid)\n"
                       "LOGDATEI   = tormel.log   (found, valid)\n"
                       "MAXLOGSIZE = 100   (found, valid)\n"
                       "ERRLEVEL   = 1000   (found, valid)\n"
                       "TIMEOUT    = 1   (found, valid)\n"
                       "WINDOW       (not found, the service uses 1)\n"
                       "STATIONS     (not found, the service uses 8)\n"
                       "RETRYMAX     (not found, the service uses 60)\n"
                       "log file: \"tormel.log\" does not exist yet and can be created\n"
                       "the service would start with this file\n");
  EXPECT_EQ(r.err, "");
  // Neither the log nor the probe for it is left behind.
  EXPECT_EQ(FolderNames(dir.path), std::vector<std::string>{"SOCKIO.INI"});

  WriteFile(dir.Path("tormel.log"), "earlier entries\n");
  r = Ctl({"check", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("log file: \"tormel.log\" exists and can be opened for appending\n"), std::string::npos);
  EXPECT_EQ(ReadFile(dir.Path("tormel.log")), "earlier entries\n");
}

TEST_F(Check, MissingAndInvalidValuesAreWarningsTheServiceStartsWith) {
  std::string path = dir.Path("WARN.INI");
  WriteFile(path, "KEYINI\r\n[TORMEL]\r\nXFRIP = 192.168.100.2001\r\nXFRPORT = http\r\nLOGDATEI = tormel.log\r\n"
                  "MAXLOGSIZE = -5\r\nTIMEOUT = 2000\r\nWINDOW = 300\r\nSTATIONS = 65\r\nRETRYMAX = 0\r\n");
  CtlResult r = Ctl({"check", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "parameter file: " + path + "\n" +
                       "XFRIP      = 192.168.100.2001   (found, valid)\n"
                       "XFRPORT    = http   (found, valid)\n"
                       "BUFFDATEI    (not found)\n"
                       "LOGDATEI   = tormel.log   (found, valid)\n"
                       "MAXLOGSIZE = -5   (found, invalid)\n"
                       "ERRLEVEL     (not found)\n"
                       "TIMEOUT    = 2000   (found, invalid)\n"
                       "WINDOW     = 300   (found, invalid)\n"
                       "STATIONS   = 65   (found, invalid)\n"
                       "RETRYMAX   = 0   (found, invalid)\n"
                       "warning: BUFFDATEI is missing; the service uses an empty text\n"
                       "warning: MAXLOGSIZE \"-5\" is not a number from 1 to 10000; the service uses 0\n"
                       "warning: ERRLEVEL is missing; the service uses 0\n"
                       "warning: TIMEOUT \"2000\" is not a number from 0 to 1000; the service uses 0\n"
                       "warning: WINDOW \"300\" is not a number from 1 to 256; the service uses 1\n"
                       "warning: STATIONS \"65\" is not a number from 1 to 64; the service uses 8\n"
                       "warning: RETRYMAX \"0\" is not a number from 1 to 3600; the service uses 60\n"
                       "warning: XFRIP \"192.168.100.2001\" is longer than 15 characters; the service does not use it\n"
                       "warning: XFRPORT \"http\" holds no port; the service uses 0\n"
                       "log file: \"tormel.log\" does not exist yet and can be created\n"
                       "the service would start with this file\n");
}

TEST_F(Check, FaultyOrMissingFileGivesTheServicesOwnLine) {
  std::string faulty = dir.Path("FAULTY.INI");
  WriteFile(faulty, "KEYINI\r\n[TORMEL]\r\nXFRIP = 127.0.0.1\r\n\r\nXFRPORT 6665\r\n");
  CtlResult r = Ctl({"check", faulty});
  EXPECT_EQ(r.status, 1);
  std::string line = "tormel: " + faulty + " line 5: \"=\" expected after a key (-23)";
  EXPECT_EQ(r.out, "parameter file: " + faulty + "\n" + line + "\nthe service would not start with this file\n");

  std::string serviceErr;
  EXPECT_EQ(RunProgram(TORMEL_BIN, {faulty}, nullptr, &serviceErr), 1);
  EXPECT_EQ(serviceErr, line + "\n") << "check words it as the service does";

  std::string missing = dir.Path("NONE.INI");
  r = Ctl({"check", missing});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "parameter file: " + missing + "\ntormel: " + missing +
                       ": the file cannot be opened (-2)\nthe service would not start with this file\n");
}

// check says 0 exactly when the service starts. The stop event is held reset,
// so a service that starts ends at its first check with status 0.
TEST_F(Check, JudgesEveryFileAsTheServiceStartsWithIt) {
  std::filesystem::create_directory(dir.Path("logs"));
  struct Case {
    const char* name;
    std::string extra;
    int status;
  } cases[] = {
      {"good", "TIMEOUT = 1\r\n", 0},
      {"timeout out of range", "TIMEOUT = 2000\r\n", 0},
      {"log in a folder", "LOGDATEI = logs/t.log\r\n", 0},
      {"log folder missing", "LOGDATEI = none/t.log\r\n", 1},
      {"log is a folder", "LOGDATEI = logs\r\n", 1},
      {"log name invalid", "LOGDATEI = " + std::string(51, 'x') + "\r\n", 1},
      {"key unknown", "PORT = 1\r\n", 1},
  };
  // The earlier LOGDATEI line in WriteParams is overridden by a later valid
  // one; an invalid later one leaves the earlier value, so that case drops it.
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = WriteParams(6665, c.extra);
    if (std::string(c.name) == "log name invalid") {
      WriteFile(path, "KEYINI\r\n[TORMEL]\r\nXFRPORT = 6665\r\n" + c.extra);
    }
    CtlResult r = Ctl({"check", path});
    EXPECT_EQ(r.status, c.status) << r.out;

    OsEvent stop;
    ASSERT_EQ(OsEventCreate(TORMEL_STOP_EVENT_NAME, false, &stop), 0);
    ASSERT_EQ(OsEventReset(stop), 0);
    // Held open during the run: a kernel event ends with its last handle.
    EXPECT_EQ(RunProgram(TORMEL_BIN, {path}), c.status);
    OsEventClose(&stop);
  }
}

TEST_F(Check, UsageAndUnknownCommands) {
  CtlResult r = Ctl({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("usage: tormelctl COMMAND [ARGUMENTS]\n", 0), 0u);
  EXPECT_EQ(Ctl({}).out, r.out);

  r = Ctl({"restart"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("tormelctl: unknown command \"restart\"\nusage: tormelctl", 0), 0u);

  EXPECT_EQ(Ctl({"check", "a", "b"}).status, 2);
  EXPECT_EQ(Ctl({"stop", "--wait"}).status, 2);
  EXPECT_EQ(Ctl({"put", "--number", "1", "record"}).status, 2) << "no --to";
}

}  // namespace
