// The real `tormel` program for the benchmarks: started in a folder of its
// own (ServiceFolder) against a receiver port, stopped with its resource
// usage.
#pragma once
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "test_process.h"
#include "test_service.h"

struct BenchService {
  // extra: more lines for the parameter file's section.
  explicit BenchService(uint16_t port, const std::string& extra = "") {
    params = folder.WriteParams(port, "TIMEOUT = 10\r\n" + extra);
  }
  ServiceFolder folder;  // parameter file, buffer files, log, runtime folder; kept when a benchmark fails
  std::string params;
  ChildProcess child;
};

void BenchStart(BenchService* s, const char* tormel);
// Waits until the service has published its start event.
void BenchWaitReady(const BenchService& s);
// Ends the benchmark when the service has ended on its own.
void BenchCheckAlive(const BenchService& s);
// A termination request and the end: true when it ended with status 0 and
// an empty log, or one whose every entry holds `expected` (the failed
// connections to a station that is down); *peakKiB receives its peak
// resident memory.
bool BenchStop(BenchService* s, long* peakKiB, const char* expected = nullptr);
// Ends the benchmark with a message, the service killed first so that it
// does not run on; its folder stays for a look.
[[noreturn]] void BenchFail(BenchService* s, const char* what);
// Nanoseconds the process has run on a CPU (/proc/<pid>/schedstat).
uint64_t BenchCpuNs(pid_t pid);
// A rate measured in a child process: the limit for a client that, like the
// service, is a process of its own beside the receiver's. Ends the benchmark,
// naming what, when the child fails or takes longer than limit.
double BenchRateInChild(const char* what, const std::function<double()>& rate,
                        std::chrono::seconds limit);
