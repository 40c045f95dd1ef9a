#include "bench_receiver.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "test_support.h"

BenchReceiver BenchReceiverStart(const std::string& program, const std::string& bind, uint16_t port, int rttMs,
                                 bool printRecords) {
  // It writes the port file only once it listens.
  TempDir dir;
  std::string portFile = dir.Path("receiver.port");
  int out[2] = {-1, -1};
  if (printRecords && pipe2(out, O_CLOEXEC) != 0) exit(1);
  BenchReceiver r;
  r.pid = fork();
  if (r.pid == 0) {
    if (printRecords) dup2(out[1], STDOUT_FILENO);
    // Its own lines would run into the table.
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDERR_FILENO);
    std::string portText = std::to_string(port), rtt = std::to_string(rttMs);
    const char* quiet = printRecords ? nullptr : "--quiet";
    execl(program.c_str(), program.c_str(), "--bind", bind.c_str(), "--port", portText.c_str(), "--port-file",
          portFile.c_str(), "--rtt-ms", rtt.c_str(), quiet, static_cast<char*>(nullptr));
    _exit(127);
  }
  if (printRecords) {
    close(out[1]);
    r.records = out[0];
  }
  unsigned listening = 0;
  WaitFor([&] { return FileExists(portFile) || waitpid(r.pid, nullptr, WNOHANG) != 0; });
  if (!(std::ifstream(portFile) >> listening)) {
    fprintf(stderr, "bench: the receiver on %s:%u did not start\n", bind.c_str(), static_cast<unsigned>(port));
    exit(1);
  }
  r.port = static_cast<uint16_t>(listening);
  return r;
}

void BenchReceiverStop(BenchReceiver* r) {
  kill(r->pid, SIGTERM);
  waitpid(r->pid, nullptr, 0);
  if (r->records >= 0) close(r->records);
  r->records = -1;
}
