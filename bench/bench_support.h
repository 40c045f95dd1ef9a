// What the benchmarks share beyond the test support: an acknowledging
// receiver thread that records nothing, so that it costs each frame no more
// than the raw loop it is measured against; the raw limit of the exchange;
// a clock and the table row. POSIX only.
#pragma once
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "os_net.h"

// Accepts connections on 127.0.0.1 one after another and answers every
// 512-byte frame with "1", as fast as it can.
struct AckReceiver {
  OsSocket listener;
  uint16_t port = 0;
  std::atomic<bool> stop{false};
  std::atomic<long> frames{0};
  std::atomic<double> firstFrameAt{0};  // NowSeconds() of the first frame since the last reset
  std::atomic<double> lastFrameAt{0};
  std::thread thread;
};

void AckReceiverStart(AckReceiver* r);
void AckReceiverStop(AckReceiver* r);
// Starts counting frames and their times afresh.
void AckReceiverReset(AckReceiver* r);

// Records per second of a bare loop of one 512-byte send and one 1-byte
// receive, each a single blocking system call, to the receiver at port.
double RawExchangeRate(uint16_t port, long records);

// One row of the table bench/run prints; bench/run prints the header with
// the same widths.
inline constexpr const char* BENCH_ROW_FORMAT = "%-16s %-24s %-30s %-6s %-18s %s\n";
void BenchRow(const char* name, const char* figure, const char* limit, const char* ratio, const char* goal, bool met);

double NowSeconds();
// The value that a share p (0 to 1) of values do not exceed: 0.5 the
// median, 1 the largest.
double BenchPercentile(std::vector<double> values, double p);
