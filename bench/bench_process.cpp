#include "bench_process.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "bench_support.h"

void BenchStart(BenchService* s, const char* tormel) { s->child = s->folder.StartProgram(tormel, {s->params}); }

void BenchWaitReady(const BenchService& s) {
  if (s.folder.WaitReady(s.child)) return;
  BenchCheckAlive(s);
  fprintf(stderr, "bench: the service has not started (see %s)\n", s.folder.dir.path.c_str());
  exit(1);
}

void BenchCheckAlive(const BenchService& s) {
  if (IsRunning(s.child)) return;
  fprintf(stderr, "bench: the service ended early (see %s)\n", s.folder.dir.path.c_str());
  exit(1);
}

bool BenchStop(BenchService* s, long* peakKiB, const char* expected) {
  SendSignal(s->child, SIGTERM);
  ChildUsage usage;
  int status = WaitExit(s->child, std::chrono::seconds(60), &usage);
  *peakKiB = usage.peakKiB;
  bool clean = status == 0;
  for (const std::string& entry : TextLines(s->folder.Log()))
    if (expected == nullptr || entry.find(expected) == std::string::npos) clean = false;
  if (!clean) fprintf(stderr, "bench: the service did not end cleanly (see %s)\n", s->folder.dir.path.c_str());
  return clean;
}

void BenchFail(BenchService* s, const char* what) {
  fprintf(stderr, "bench: %s (see %s)\n", what, s->folder.dir.path.c_str());
  if (IsRunning(s->child)) {
    SendSignal(s->child, SIGKILL);
    WaitExit(s->child, std::chrono::seconds(10));
  }
  exit(1);
}

uint64_t BenchCpuNs(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/schedstat");
  uint64_t ns = 0;
  if (!(stat >> ns)) {
    fprintf(stderr, "bench: cannot read /proc/%d/schedstat\n", static_cast<int>(pid));
    exit(1);
  }
  return ns;
}

double BenchRateInChild(const char* what, const std::function<double()>& measure,
                        std::chrono::seconds limit) {
  int ends[2];
  if (pipe(ends) != 0) exit(1);
  pid_t pid = fork();
  if (pid == 0) {
    double rate = measure();
    _exit(write(ends[1], &rate, sizeof rate) == sizeof rate ? 0 : 1);
  }
  close(ends[1]);
  double rate = 0;
  bool got = read(ends[0], &rate, sizeof rate) == sizeof rate;
  close(ends[0]);
  ChildProcess child = ForkedChild(pid);
  if (!got || WaitExit(child, limit) != 0) {
    fprintf(stderr, "bench: %s in a child process failed\n", what);
    exit(1);
  }
  return rate;
}
