// The whole service delivering one buffer file: the real `tormel` program
// started as a process against an acknowledging receiver, its rate beside
// the raw exchange limit measured in the same run, and its peak resident
// memory for a small and a large file.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_process.h"
#include "bench_support.h"

namespace fs = std::filesystem;

namespace {

struct Delivery {
  double rate = 0;  // records per second from the first frame to the last
  double seconds = 0;
  long peakKiB = 0;
};

void WriteBufferFile(const std::string& path, long records) {
  std::ofstream out(path, std::ios::binary);
  std::string head = BufferLine("", '$', "127.0.0.1", "");
  char content[64];
  for (long i = 0; i < records; ++i) {
    int n = snprintf(content, sizeof content, "benchmark record %08ld\r\n", i);
    out << head;
    out.write(content, n);
  }
}

Delivery Deliver(const char* tormel, AckReceiver* receiver, long records) {
  BenchService service(receiver->port);
  WriteBufferFile(service.folder.Buffer(1), records);
  AckReceiverReset(receiver);
  double start = NowSeconds();
  BenchStart(&service, tormel);
  while (FileExists(service.folder.Buffer(1))) {
    BenchCheckAlive(service);
    usleep(10000);
  }
  Delivery d;
  d.seconds = NowSeconds() - start;
  d.rate = static_cast<double>(receiver->frames - 1) / (receiver->lastFrameAt - receiver->firstFrameAt);
  if (!BenchStop(&service, &d.peakKiB) || receiver->frames != records) {
    fprintf(stderr, "bench: %ld of %ld records arrived\n", static_cast<long>(receiver->frames), records);
    exit(1);
  }
  return d;
}

}  // namespace

int main(int argc, char** argv) {
  std::string program = fs::absolute(argc > 1 ? argv[1] : TORMEL_BIN).string();
  const char* tormel = program.c_str();
  long records = argc > 2 ? atol(argv[2]) : 100000;
  long small = 10000, large = argc > 3 ? atol(argv[3]) : 1000000;

  AckReceiver receiver;
  AckReceiverStart(&receiver);
  // The limit runs in a process of its own, as the service does, before and
  // after the delivery; the better of the two counts. The same loop in this
  // process, beside the receiver thread, is shown for comparison.
  auto rawLoop = [&] { return RawExchangeRate(receiver.port, records); };
  double raw = BenchRateInChild("the raw loop", rawLoop, std::chrono::seconds(60));
  Delivery whole = Deliver(tormel, &receiver, records);
  double rawAfter = BenchRateInChild("the raw loop", rawLoop, std::chrono::seconds(60));
  raw = raw > rawAfter ? raw : rawAfter;
  double rawInProcess = RawExchangeRate(receiver.port, records);
  Delivery memSmall = Deliver(tormel, &receiver, small);
  Delivery memLarge = Deliver(tormel, &receiver, large);
  AckReceiverStop(&receiver);

  char figure[64], limit[64], ratio[32];
  snprintf(figure, sizeof figure, "%.0f records/s", whole.rate);
  snprintf(limit, sizeof limit, "%.0f records/s raw (process)", raw);
  snprintf(ratio, sizeof ratio, "%.3f", whole.rate / raw);
  BenchRow("service", figure, limit, ratio, "ratio >= 0.85", whole.rate / raw >= 0.85);

  double growth = static_cast<double>(memLarge.peakKiB) / static_cast<double>(memSmall.peakKiB);
  bool memoryMet = growth <= 1.10 && memLarge.peakKiB < 8 * 1024;
  snprintf(figure, sizeof figure, "%ld KiB for %ldk", memLarge.peakKiB, large / 1000);
  snprintf(limit, sizeof limit, "%ld KiB for %ldk", memSmall.peakKiB, small / 1000);
  snprintf(ratio, sizeof ratio, "%.3f", growth);
  BenchRow("peak memory", figure, limit, ratio, "<= 1.10, < 8 MiB", memoryMet);
  printf("(service: %ld records in %.1f s; raw loop in the receiver's own process %.0f records/s, ratio %.3f;\n"
         " large file: %ld records in %.1f s)\n",
         records, whole.seconds, rawInProcess, whole.rate / rawInProcess, large, memLarge.seconds);
  return 0;
}
