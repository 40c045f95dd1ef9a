#include "test_service.h"

#include <csignal>

#include "tormel.h"

ServiceFolder::ServiceFolder() {
  env["TORMEL_RUNTIME_DIR"] = dir.Path("run");
  TestSetEnv("TORMEL_RUNTIME_DIR", env["TORMEL_RUNTIME_DIR"]);
}

ServiceFolder::~ServiceFolder() { TestUnsetEnv("TORMEL_RUNTIME_DIR"); }

bool ServiceFolder::WaitReady(const ChildProcess& child) {
  return WaitFor([&] { return TestEventState(TORMEL_START_EVENT_NAME) == 1 || !IsRunning(child); }) &&
         IsRunning(child);
}

int ServiceFolder::Stop(ChildProcess& child, std::chrono::milliseconds deadline) {
  SendSignal(child, SIGTERM);
  return WaitExit(child, deadline);
}
