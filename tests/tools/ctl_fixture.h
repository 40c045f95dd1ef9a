// What every tormelctl suite needs: a fresh folder that is the programs'
// working folder, a fresh runtime folder for the named objects, and a way to
// run tormelctl there.
#pragma once
#include <gtest/gtest.h>

#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

#include "os_sync.h"
#include "test_process.h"
#include "test_support.h"
#include "tormel.h"

struct CtlResult {
  int status = -1;
  std::string out;
  std::string err;
};

struct CtlTest : ::testing::Test {
  void SetUp() override {
    env["TORMEL_RUNTIME_DIR"] = dir.Path("run");
    // The test itself looks at the named objects in the same place.
    TestSetEnv("TORMEL_RUNTIME_DIR", env["TORMEL_RUNTIME_DIR"]);
  }
  void TearDown() override { TestUnsetEnv("TORMEL_RUNTIME_DIR"); }

  CtlResult Ctl(const std::vector<std::string>& args) {
    CtlResult r;
    r.status = RunProcess(TORMELCTL_BIN, args, dir.path, env, &r.out, &r.err);
    return r;
  }

  // A parameter file in the working folder; extra lines replace nothing, they
  // are appended to the section.
  std::string WriteParams(uint16_t port, const std::string& extra = "TIMEOUT = 1\r\n",
                          const std::string& name = "SOCKIO.INI") {
    std::string path = dir.Path(name);
    WriteFile(path, "KEYINI\r\n[TORMEL]\r\nXFRIP = 127.0.0.1\r\nXFRPORT = " + std::to_string(port) +
                        "\r\nBUFFDATEI = tormel.buf\r\nLOGDATEI = tormel.log\r\nMAXLOGSIZE = 100\r\n"
                        "ERRLEVEL = 1000\r\n" + extra);
    return path;
  }

  // 1 set, 0 reset, -1 absent or unreadable.
  int EventState(const char* name) { return TestEventState(name); }

  TempDir dir;
  std::map<std::string, std::string> env;
};

// A pending buffer line as producers write it.
inline std::string BufferLine(const std::string& ip, const std::string& content, char mark = '$') {
  std::string line(1, mark);
  line += std::string(37, ' ');
  line += ip + std::string(15 - ip.size(), ' ');
  line += std::string(5, ' ');
  return line + content + "\r\n";
}
