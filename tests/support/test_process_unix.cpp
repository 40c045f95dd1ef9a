#include "test_process.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include "test_support.h"

ChildProcess StartProcess(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                          const std::map<std::string, std::string>& env) {
  ChildProcess child;
  child.outPath = CapturePath(cwd, "out");
  child.errPath = CapturePath(cwd, "err");
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(child.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(child.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || chdir(cwd.c_str()) != 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    setsid();  // no controlling terminal, as under a service manager
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    execv(program.c_str(), cargv.data());
    _exit(127);
  }
  child.pid = pid;
  return child;
}

ChildProcess StartConsoleProcess(const std::string& program, const std::vector<std::string>& args,
                                 const std::string& cwd, const std::map<std::string, std::string>& env) {
  ChildProcess child = StartProcess(program, args, cwd, env);
  child.console = true;
  return child;
}

int WaitExit(ChildProcess& child, std::chrono::milliseconds deadline, ChildUsage* usage) {
  int status = 0;
  rusage used{};
  bool ended = WaitFor([&] { return wait4(child.pid, &status, WNOHANG, &used) == child.pid; }, deadline);
  if (!ended) {
    kill(child.pid, SIGKILL);
    waitpid(child.pid, &status, 0);
    child.pid = -1;
    return -1;
  }
  child.pid = -1;
  if (usage != nullptr) usage->peakKiB = used.ru_maxrss;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

bool IsRunning(const ChildProcess& child) {
  if (child.pid <= 0) return false;
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

void SendSignal(const ChildProcess& child, int signal) {
  if (child.pid > 0) kill(child.pid, signal);
}

void TestSetEnv(const std::string& name, const std::string& value) { setenv(name.c_str(), value.c_str(), 1); }

void TestUnsetEnv(const std::string& name) { unsetenv(name.c_str()); }
bool TestOnWindows() { return false; }
bool TestUnderWine() { return false; }
