#include "sync_test_util.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

void RuntimeDirTest::SetUp() {
  char tmpl[] = "/tmp/tormel-sync-test-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  base_ = tmpl;
  runtime_ = base_ + "/rt";
  setenv("TORMEL_RUNTIME_DIR", runtime_.c_str(), 1);
}

void RuntimeDirTest::TearDown() {
  unsetenv("TORMEL_RUNTIME_DIR");
  std::error_code ec;
  std::filesystem::remove_all(base_, ec);
}

bool WaitChild(pid_t pid, int timeoutMs, int* status) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pid_t r = waitpid(pid, status, WNOHANG);
    if (r == pid) return true;
    if (r < 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, status, 0);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

bool ReadByte(int fd) {
  char c;
  ssize_t r;
  do {
    r = read(fd, &c, 1);
  } while (r < 0 && errno == EINTR);
  return r == 1;
}
