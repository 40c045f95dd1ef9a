// The real `tormel` program for the benchmarks: started in a folder of its
// own against a receiver port, stopped with its resource usage.
#pragma once
#include <sys/resource.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

struct BenchService {
  pid_t pid = -1;
  std::filesystem::path dir;  // parameter file, buffer files, log, runtime folder
};

// A fresh folder with a parameter file for 127.0.0.1:port and buffer files
// TORMEL<n>.BUF, extra lines added to its section; the service is not
// started yet.
BenchService BenchPrepare(const char* name, uint16_t port, const std::string& extra = "");
void BenchStart(BenchService* s, const char* tormel);
// Waits until the service has published its start event.
void BenchWaitReady(const BenchService& s);
// Ends the benchmark when the service has ended on its own.
void BenchCheckAlive(const BenchService& s);
// SIGTERM and wait4: true when it ended with status 0 and an empty log.
bool BenchStop(BenchService* s, rusage* usage);
// Renames a finished temporary file to TORMEL<n>.BUF in one step.
void BenchPlace(const BenchService& s, unsigned n, const std::string& bytes);
// Nanoseconds the process has run on a CPU (/proc/<pid>/schedstat).
uint64_t BenchCpuNs(pid_t pid);
// RawExchangeRate run in a child process: the limit for a client that, like
// the service, is a process of its own beside the receiver's.
double BenchRawRateInChild(uint16_t port, long records);
// One buffer line for the receiver 127.0.0.1.
std::string BenchRecord(const char* content);
