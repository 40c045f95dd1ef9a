// The service program as a process: a fresh working folder and runtime
// folder per test, a parameter file pointing at a receiver, and a look at
// its named events.
#pragma once
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "os_sync.h"
#include "test_process.h"
#include "test_receiver.h"
#include "test_support.h"
#include "tormel.h"

// A pending buffer line for the receiver on 127.0.0.1.
inline std::string Record(const std::string& content) {
  return "$" + std::string(37, ' ') + "127.0.0.1      " + std::string(5, ' ') + content + "\r\n";
}

struct Service : ::testing::Test {
  void SetUp() override { env["TORMEL_RUNTIME_DIR"] = dir.Path("run"); }

  std::string WriteParams(uint16_t port, const std::string& extra = "TIMEOUT = 1\r\n") {
    std::string path = dir.Path("SOCKIO.INI");
    WriteFile(path, "KEYINI\r\n// test set-up\r\n[TORMEL]\r\nXFRIP = 127.0.0.1\r\nXFRPORT = " + std::to_string(port) +
                        "\r\nBUFFDATEI = tormel.buf\r\nLOGDATEI = tormel.log\r\nERRLEVEL = 1000\r\nMAXLOGSIZE = 100\r\n" +
                        extra);
    return path;
  }

  ChildProcess Start(const std::vector<std::string>& args) { return StartProcess(TORMEL_BIN, args, dir.path, env); }

  int EventState(const char* name) {
    TestSetEnv("TORMEL_RUNTIME_DIR", env["TORMEL_RUNTIME_DIR"]);
    return TestEventState(name);
  }

  TempDir dir;
  std::map<std::string, std::string> env;
};
