// What the fault suites share beyond the test support: the service program
// as a process in a folder of its own, and its log reduced to what each
// entry says.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "test_receiver.h"
#include "test_service.h"

// The service program in a folder of its own (ServiceFolder), for the
// receiver at port.
struct SoakService : ServiceFolder {
  explicit SoakService(uint16_t port, int timeoutSeconds = 1, int window = 1);
  ~SoakService();
  void Start() { child = StartProgram(TORMEL_BIN, {params}); }
  bool WaitReady() { return ServiceFolder::WaitReady(child); }
  int Stop(std::chrono::milliseconds deadline = std::chrono::seconds(5)) { return ServiceFolder::Stop(child, deadline); }
  void Kill();
  int OpenDescriptors() const;  // entries of /proc/<pid>/fd
  // What the service holds for its whole run, counted once its loop has
  // opened the folder watch: readiness is announced before that.
  int SettledDescriptors() const;

  std::string params;
  ChildProcess child;
};

// Log lines, each reduced to function, severity, code, secondary and message.
std::vector<std::string> LogEntries(const std::string& log);
