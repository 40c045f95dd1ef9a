// A window of records in flight. Over a long link (the reference receiver
// answering every frame 20 ms after it came, reading on meanwhile), the rate
// of the real `tormel` with WINDOW 1, 8 and 64 beside its limit of
// WINDOW / round trip; and on loopback, WINDOW 16 beside one at a time.
//   bench_window [TORMEL] [RECEIVER] [RECORDS] [RECORDS_ONE_AT_A_TIME] [LOOPBACK_RECORDS]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_process.h"
#include "bench_receiver.h"
#include "bench_support.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRoundTripMs = 20;

void WriteRecords(const std::string& path, long records) {
  std::ofstream out(path, std::ios::binary);
  for (long i = 0; i < records; ++i) out << BufferLine("window record " + std::to_string(i));
}

// Records per second from the service's start to its file gone.
double Drain(const char* tormel, uint16_t port, int window, long records) {
  BenchService service(port, "WINDOW = " + std::to_string(window) + "\r\n");
  WriteRecords(service.folder.Buffer(1), records);
  double start = NowSeconds();
  BenchStart(&service, tormel);
  while (FileExists(service.folder.Buffer(1))) {
    BenchCheckAlive(service);
    usleep(2000);
  }
  double seconds = NowSeconds() - start;
  long peakKiB = 0;
  if (!BenchStop(&service, &peakKiB)) exit(1);
  return static_cast<double>(records) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  std::string tormel = fs::absolute(argc > 1 ? argv[1] : TORMEL_BIN).string();
  std::string receiverProgram = fs::absolute(argc > 2 ? argv[2] : TORMEL_RECEIVER_BIN).string();
  long records = argc > 3 ? atol(argv[3]) : 10000;
  long oneAtATime = argc > 4 ? atol(argv[4]) : 2000;  // 40 s at 20 ms a record
  long loopbackRecords = argc > 5 ? atol(argv[5]) : 100000;

  BenchReceiver far = BenchReceiverStart(receiverProgram, "127.0.0.1", 0, kRoundTripMs, false);
  char figure[64], limit[64], ratio[32], goal[32], name[32];
  double rates[3] = {};
  const int windows[3] = {1, 8, 64};
  for (int i = 0; i < 3; ++i) {
    int w = windows[i];
    rates[i] = Drain(tormel.c_str(), far.port, w, w == 1 ? oneAtATime : records);
    double bound = 1000.0 * w / kRoundTripMs;
    double share = rates[i] / bound;
    double wanted = w == 1 ? 0.9 : 0.8;
    snprintf(name, sizeof name, "window %d, 20 ms", w);
    snprintf(figure, sizeof figure, "%.0f records/s", rates[i]);
    snprintf(limit, sizeof limit, "%.0f records/s (W / RTT)", bound);
    snprintf(ratio, sizeof ratio, "%.3f", share);
    snprintf(goal, sizeof goal, "ratio >= %.1f", wanted);
    BenchRow(name, figure, limit, ratio, goal, share >= wanted);
  }
  BenchReceiverStop(&far);
  snprintf(figure, sizeof figure, "%.1f times window 1", rates[2] / rates[0]);
  snprintf(ratio, sizeof ratio, "%.1f", rates[2] / rates[0]);
  BenchRow("window 64 drain", figure, "-", ratio, ">= 40 times", rates[2] / rates[0] >= 40);

  AckReceiver near;
  AckReceiverStart(&near);
  double one = Drain(tormel.c_str(), near.port, 1, loopbackRecords);
  double sixteen = Drain(tormel.c_str(), near.port, 16, loopbackRecords);
  AckReceiverStop(&near);
  snprintf(figure, sizeof figure, "%.0f records/s", sixteen);
  snprintf(limit, sizeof limit, "%.0f records/s (window 1)", one);
  snprintf(ratio, sizeof ratio, "%.2f", sixteen / one);
  BenchRow("window 16, local", figure, limit, ratio, ">= 2 times", sixteen / one >= 2);
  printf("(long link: the reference receiver with --rtt-ms %d; %ld records each, %ld at window 1;\n"
         " local: %ld records to an answering thread)\n",
         kRoundTripMs, records, oneAtATime, loopbackRecords);
  return 0;
}
