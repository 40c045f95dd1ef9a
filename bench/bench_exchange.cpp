// SndWithReply over loopback against an acknowledging receiver, beside the
// raw limit of a bare send/receive loop measured in the same run.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench_support.h"
#include "sockio.h"
#include "tormel.h"

namespace {

double ExchangeRate(uint16_t port, long records) {
  int32_t handle = 0;
  if (CSocketClientOpen(&handle, "127.0.0.1", port, 60) != 0) {
    fprintf(stderr, "bench: cannot connect\n");
    exit(1);
  }
  char frame[TORMEL_FRAME_SIZE + 1];
  char prefix[TORMEL_PREFIX_SIZE];
  TormelBuildPrefix(prefix, "127.0.0.1", "6665");
  const char line[] = "$                                     127.0.0.1      6665 a benchmark record\n";
  char reply[2];
  double start = NowSeconds();
  for (long i = 0; i < records; ++i) {
    TormelBuildFrame(frame, line, sizeof line - 1, prefix);
    reply[0] = reply[1] = 0;
    if (SndWithReply(handle, frame, TORMEL_FRAME_SIZE, reply, 1, 60) != 0 || reply[0] != '1') {
      fprintf(stderr, "bench: exchange failed\n");
      exit(1);
    }
  }
  double rate = static_cast<double>(records) / (NowSeconds() - start);
  CSocketClose(handle);
  return rate;
}

}  // namespace

int main(int argc, char** argv) {
  long records = argc > 1 ? atol(argv[1]) : 100000;
  if (records <= 0) {
    fprintf(stderr, "usage: bench_exchange [RECORDS]\n");
    return 2;
  }
  // The log takes regular files only; nothing is logged while all goes well.
  std::string log = (std::filesystem::temp_directory_path() / "tormel_bench_exchange.log").string();
  CLogOpen(log.c_str(), 1000, 10000);
  AckReceiver receiver;
  AckReceiverStart(&receiver);

  // Interleaved rounds, best of each, so that both see the same machine.
  double raw = 0, exchange = 0;
  constexpr int kRounds = 6;
  for (int round = 0; round < kRounds; ++round) {
    double r = RawExchangeRate(receiver.port, records / kRounds);
    double e = ExchangeRate(receiver.port, records / kRounds);
    raw = r > raw ? r : raw;
    exchange = e > exchange ? e : exchange;
  }
  AckReceiverStop(&receiver);

  char figure[64], limit[64], ratio[32];
  snprintf(figure, sizeof figure, "%.0f records/s", exchange);
  snprintf(limit, sizeof limit, "%.0f records/s raw", raw);
  snprintf(ratio, sizeof ratio, "%.3f", exchange / raw);
  BenchRow("exchange", figure, limit, ratio, "ratio >= 0.95", exchange / raw >= 0.95);
  return 0;
}
