// tormelctl install and uninstall where no service manager is touched: the
// command lines they refuse, and the answer on systems that install the
// service otherwise. The real registration is covered by the Service
// Control Manager suite (tests/e2e).
#include "ctl_fixture.h"

namespace {

using Install = CtlTest;

TEST_F(Install, CommandLinesNotUnderstoodExit2) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"install", "--name"}, {"install", "A.INI", "B.INI"}, {"install", "--force"}, {"uninstall", "A.INI"}}) {
    CtlResult r = Ctl(args);
    EXPECT_EQ(r.status, 2) << args[0] << " " << args[1];
    EXPECT_NE(r.err.find("usage: tormelctl"), std::string::npos);
  }
}

TEST_F(Install, OutsideWindowsPointsToThePackageAndFails) {
  if (TestOnWindows()) GTEST_SKIP() << "Windows registers the service; the Service Control Manager suite covers it";
  for (const char* command : {"install", "uninstall"}) {
    CtlResult r = Ctl({command, "--name", "Tormel"});
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(std::string("tormelctl: ") + command + " is for Windows. On Linux, install the Debian package"),
              std::string::npos) << r.err;
  }
}

}  // namespace
