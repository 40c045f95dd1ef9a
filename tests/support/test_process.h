// Real programs started as child processes, with their output captured in
// files and their end awaited with a deadline.
#pragma once
#include <chrono>
#include <map>
#include <string>
#include <vector>

struct ChildProcess {
  int pid = -1;
  void* handle = nullptr;  // the process handle on Windows
  bool console = false;    // started with StartConsoleProcess
  std::string outPath;  // standard output goes here
  std::string errPath;  // standard error goes here
};

// A child that a POSIX test fork()ed itself, waited for as any other.
inline ChildProcess ForkedChild(int pid) {
  ChildProcess child;
  child.pid = pid;
  return child;
}

// Starts program with args in the folder cwd; env entries are set (or
// replaced) in the child's environment. Standard input is /dev/null.
ChildProcess StartProcess(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                          const std::map<std::string, std::string>& env = {});

// As StartProcess, for a console program that takes SIGINT and SIGTERM as
// its termination request: on Windows SendSignal delivers them as a console
// control event (CTRL_C_EVENT) to the console of its own it has there.
ChildProcess StartConsoleProcess(const std::string& program, const std::vector<std::string>& args,
                                 const std::string& cwd, const std::map<std::string, std::string>& env = {});

// What an ended child used, where the system tells (POSIX); -1 elsewhere.
struct ChildUsage {
  long peakKiB = -1;  // its peak resident memory
};

// Waits for the child's end; its exit status, 128 + signal when killed, or
// -1 when the deadline passed (the child is then killed).
int WaitExit(ChildProcess& child, std::chrono::milliseconds deadline = std::chrono::seconds(20),
             ChildUsage* usage = nullptr);

// True while the child has not ended (without reaping it).
bool IsRunning(const ChildProcess& child);

// On Windows, which has no signals, SIGTERM and SIGINT reset the service's
// stop event (its termination request there) until the child has ended or
// ten seconds have passed, or reach a child started with
// StartConsoleProcess as a console control event; SIGKILL terminates the
// child with status 128 + SIGKILL.
void SendSignal(const ChildProcess& child, int signal);
// The number of SIGKILL, also where <signal.h> has none (Windows).
constexpr int TEST_SIGKILL = 9;

// Sets or removes a variable of this process's environment.
void TestSetEnv(const std::string& name, const std::string& value);
void TestUnsetEnv(const std::string& name);

// Runs program to its end; its exit status. out and err receive its output.
int RunProcess(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
               const std::map<std::string, std::string>& env, std::string* out = nullptr, std::string* err = nullptr,
               std::chrono::milliseconds deadline = std::chrono::seconds(20));

// True in the Windows build, where the Windows-only cases run.
bool TestOnWindows();
// True where the Windows build runs under Wine.
bool TestUnderWine();

// Where a child started in cwd writes the output of kind ("out", "err"): a
// hidden file of its own there.
std::string CapturePath(const std::string& cwd, const char* kind);
