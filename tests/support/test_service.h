// A folder for the service and its tools, as the end-to-end suites, the
// soak suites and the benchmarks use it: the programs' working folder,
// holding the parameter file (WriteParams), the buffer files TORMEL<n>.BUF
// and the log tormel.log, with the named objects in run/ below it
// (TORMEL_RUNTIME_DIR, set for the test process as well while the folder
// lives; Windows keeps all named objects in one namespace).
#pragma once
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "test_process.h"
#include "test_support.h"

struct ServiceFolder {
  ServiceFolder();
  ~ServiceFolder();

  std::string WriteParams(uint16_t port, const std::string& extra = "TIMEOUT = 1\r\n",
                          const std::string& name = "SOCKIO.INI") {
    return ::WriteParams(dir.path, port, extra, name);
  }
  std::string Buffer(int n) const { return dir.Path("TORMEL" + std::to_string(n) + ".BUF"); }
  std::string Log() const { return ReadFile(dir.Path("tormel.log")); }

  // A program started, or run to its end, in the folder with its environment.
  ChildProcess StartProgram(const std::string& program, const std::vector<std::string>& args) {
    return StartProcess(program, args, dir.path, env);
  }
  int RunProgram(const std::string& program, const std::vector<std::string>& args, std::string* out = nullptr,
          std::string* err = nullptr, std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
    return RunProcess(program, args, dir.path, env, out, err, deadline);
  }

  // Waits until the service started as child has set its start event; false
  // when it ended instead.
  static bool WaitReady(const ChildProcess& child);
  // A termination request (SIGTERM), then the child's exit status within
  // the deadline (-1 if it overran).
  static int Stop(ChildProcess& child, std::chrono::milliseconds deadline = std::chrono::seconds(5));

  TempDir dir;
  std::map<std::string, std::string> env;
};
