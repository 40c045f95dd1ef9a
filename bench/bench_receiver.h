// The reference receiver `tormel-receiver` as a process of its own, standing
// in for a station at the end of a long link: every answer leaves rttMs after
// its frame came. POSIX only.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>

struct BenchReceiver {
  pid_t pid = -1;
  uint16_t port = 0;
  int records = -1;  // read end of its standard output, one line per record; -1 when it prints nothing
};

// Starts it listening on bind at port (0: a free one) and returns once it
// listens; with printRecords its lines come through r.records. Ends the
// benchmark when it does not start.
BenchReceiver BenchReceiverStart(const std::string& program, const std::string& bind, uint16_t port, int rttMs,
                                 bool printRecords);
void BenchReceiverStop(BenchReceiver* r);
