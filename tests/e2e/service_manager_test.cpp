// The service under the Service Control Manager, as an operator runs it:
// the programs copied into a folder of their own, registered with
// `tormelctl install`, started and stopped with `sc`. Under Wine each case
// has a prefix of its own whose server stays up (cmake/wine-service-run.sh):
// Wine would otherwise end the service a few seconds after the last
// ordinary program of the prefix had ended.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "os_sync.h"
#include "test_process.h"
#include "test_receiver.h"
#include "test_support.h"
#include "tormel.h"

namespace {

const char* const kName = "TormelTest";
// Short: BUFFDATEI and LOGDATEI hold at most 50 characters. The service
// runs in the system folder, so they are absolute.
const std::string kFolder = "C:\\tormel-scm";
const char* const kSc = "C:\\windows\\system32\\sc.exe";

struct CtlRun {
  int status = -1;
  std::string out, err;
};

struct ServiceManager : ::testing::Test {
  void SetUp() override {
    namespace fs = std::filesystem;
    fs::create_directories(kFolder);
    for (const char* program : {TORMEL_BIN, TORMELCTL_BIN})
      fs::copy_file(program, kFolder + "\\" + fs::path(program).filename().string(),
                    fs::copy_options::overwrite_existing);
  }

  void TearDown() override {
    Ctl({"uninstall", "--name", kName});
    std::error_code ignored;
    std::filesystem::remove_all(kFolder, ignored);
  }

  void WriteParams(uint16_t port) {
    ::WriteParams(kFolder, port, "TIMEOUT = 1\r\nBUFFDATEI = " + kFolder + "\\tormel.buf\r\nLOGDATEI = " + kFolder +
                                     "\\tormel.log\r\n");
  }

  CtlRun Ctl(const std::vector<std::string>& args) {
    CtlRun r;
    r.status = RunProcess(kFolder + "\\tormelctl.exe", args, kFolder, {}, &r.out, &r.err);
    return r;
  }

  int Sc(const std::string& command) { return RunProcess(kSc, {command, kName}, kFolder, {}); }

  // A number or word of `sc query`, such as "STATE" (RUNNING) or
  // "SERVICE_EXIT_CODE" (1); "" when the service is not there.
  std::string Query(const std::string& field) {
    std::string out;
    RunProcess(kSc, {"query", kName}, kFolder, {}, &out);
    std::smatch m;
    if (!std::regex_search(out, m, std::regex(field + " +: +([0-9]+) +([A-Z_]*)"))) return "";
    return field == "STATE" ? m[2].str() : m[1].str();
  }

  bool WaitState(const std::string& state) {
    return WaitFor([&] { return Query("STATE") == state; }, std::chrono::seconds(20));
  }

  const std::string params = kFolder + "\\SOCKIO.INI";
};

TEST_F(ServiceManager, InstalledServiceDeliversRefusesASecondStartAndStopsWithStatus0) {
  TestReceiver receiver;
  WriteParams(receiver.port);
  CtlRun installed = Ctl({"install", "--name", kName, params});
  ASSERT_EQ(installed.status, 0) << installed.err;
  CtlRun again = Ctl({"install", "--name", kName, params});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("is installed already"), std::string::npos) << again.err;

  EXPECT_EQ(Sc("start"), 0);
  ASSERT_TRUE(WaitState("RUNNING"));
  const std::string buffer = kFolder + "\\TORMEL1.BUF";
  WriteFile(buffer, BufferLine("through the service manager"));
  EXPECT_TRUE(WaitFor([&] { return !FileExists(buffer); }, std::chrono::seconds(20)));
  ASSERT_EQ(receiver.FrameCount(), 1);
  EXPECT_EQ(FrameContent(receiver.Frames()[0]), "through the service manager\n");

  std::string err;
  EXPECT_EQ(RunProcess(kFolder + "\\tormel.exe", {params}, kFolder, {}, nullptr, &err), 2) << err;

  EXPECT_EQ(Sc("stop"), 0);
  ASSERT_TRUE(WaitState("STOPPED"));
  EXPECT_EQ(Query("WIN32_EXIT_CODE"), "0");
  EXPECT_EQ(Query("SERVICE_EXIT_CODE"), "0");

  EXPECT_EQ(Ctl({"uninstall", "--name", kName}).status, 0);
  CtlRun gone = Ctl({"uninstall", "--name", kName});
  EXPECT_EQ(gone.status, 1);
  EXPECT_NE(gone.err.find("no service named \"TormelTest\" is installed"), std::string::npos) << gone.err;
}

TEST_F(ServiceManager, TormelctlStopsItAFailedStartCarriesStatus1AndUninstallStopsItFirst) {
  WriteParams(1);
  ASSERT_EQ(Ctl({"install", "--name", kName, params}).status, 0);
  EXPECT_EQ(Sc("start"), 0);
  ASSERT_TRUE(WaitState("RUNNING"));
  EXPECT_EQ(Ctl({"stop", "--timeout", "20"}).status, 0);
  ASSERT_TRUE(WaitState("STOPPED"));
  EXPECT_EQ(Query("SERVICE_EXIT_CODE"), "0");

  WriteFile(params, "not a parameter file\r\n");
  EXPECT_EQ(Sc("start"), 0);
  EXPECT_TRUE(WaitFor([&] { return Query("SERVICE_EXIT_CODE") == "1"; }, std::chrono::seconds(20)));
  EXPECT_EQ(Query("STATE"), "STOPPED");
  EXPECT_EQ(Query("WIN32_EXIT_CODE"), "1066") << "ERROR_SERVICE_SPECIFIC_ERROR";

  WriteParams(1);
  EXPECT_EQ(Sc("start"), 0);
  ASSERT_TRUE(WaitState("RUNNING"));
  EXPECT_EQ(Ctl({"uninstall", "--name", kName}).status, 0);
  EXPECT_EQ(Query("STATE"), "");
  EXPECT_EQ(OsMutexIsHeld(TORMEL_MUTEX_NAME), 0) << "the service ended before it was removed";
}

}  // namespace
