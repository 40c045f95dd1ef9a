// Stations that are down cost a live one nothing: 100 buffer files for a
// station that never answers a connection attempt (127.0.0.2, its queue of
// connections full), 100 for one that refuses them (127.0.0.3, nobody
// listening), and beside them the file of a live station (127.0.0.1, an
// acknowledging thread). A producer appends records to the live file at
// random moments, opening it, writing one line with its line end and
// closing it each time, as `>>` does (the file is made afresh when the
// service has removed it); each write is timed to its frame at the
// receiver. Once with the dead files first (1-200, the live one 201), once
// with the live file first (1, the dead ones 2-201).
//   bench_dead_stations [TORMEL] [RECORDS] [SEED] [OPEN_PAUSE_MS]
// SEED 0 picks one; OPEN_PAUSE_MS (default 0) holds each append's file open
// and empty that long before its line is written.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench_process.h"
#include "bench_support.h"
#include "test_receiver.h"

namespace fs = std::filesystem;

namespace {

constexpr int kDeadPerStation = 100;
constexpr int kTimeoutSeconds = 3;  // the default TIMEOUT
// What a record behind the dead files waited for in the loop that served
// one file at a time: a connection attempt to every dead file and the
// second's pause after each failure, TIMEOUT for a silent station and
// nothing for one that refuses.
constexpr double kOldLoopPassSeconds = kDeadPerStation * (kTimeoutSeconds + 1.0) + kDeadPerStation * 1.0;
// A record that has not arrived by then waits for something other than its
// own station: the rest of the order is not measured.
constexpr double kGiveUpSeconds = 30;

// One line appended as `>>` does; pauseMs between the open and the write
// stands for a producer that opens its file before it has a record.
void Append(const std::string& path, const std::string& line, int pauseMs) {
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0660);
  if (pauseMs > 0) usleep(static_cast<useconds_t>(pauseMs) * 1000);
  if (fd < 0 || write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    fprintf(stderr, "bench: cannot append to %s\n", path.c_str());
    exit(1);
  }
  close(fd);
}

struct Order {
  int liveNumber;  // the live station's file; the dead files are numbered around it
  std::vector<double> latencies;
  bool gaveUp = false;  // the last record had not arrived after kGiveUpSeconds
};

void Measure(const char* tormel, AckReceiver* live, int records, int pauseMs, std::mt19937* random, Order* order) {
  BenchService service(live->port, "TIMEOUT = " + std::to_string(kTimeoutSeconds) + "\r\n");
  for (int i = 0, n = 1; i < 2 * kDeadPerStation; ++i, ++n) {
    if (n == order->liveNumber) ++n;
    const char* station = i < kDeadPerStation ? "127.0.0.2" : "127.0.0.3";
    PlaceFile(service.folder.Buffer(n), BufferLine("for a dead station", '$', station));
  }
  BenchStart(&service, tormel);
  BenchWaitReady(service);
  // Its first pass hands every dead file to its station.
  usleep(1000000);
  std::uniform_real_distribution<double> gap(0, 1.2);
  std::string line = BufferLine("live station record", '$', "127.0.0.1");
  for (int i = 0; i < records && !order->gaveUp; ++i) {
    usleep(static_cast<useconds_t>(gap(*random) * 1e6));
    AckReceiverReset(live);
    double written = NowSeconds();
    Append(service.folder.Buffer(order->liveNumber), line, pauseMs);
    while (live->frames == 0 && !order->gaveUp) {
      BenchCheckAlive(service);
      order->gaveUp = NowSeconds() - written > kGiveUpSeconds;
      usleep(100);
    }
    order->latencies.push_back(order->gaveUp ? kGiveUpSeconds : live->firstFrameAt - written);
  }
  long peakKiB = 0;
  if (order->gaveUp) {
    // The record waits in the service: no clean stop to expect.
    fprintf(stderr, "bench: a record for the live station (file %d) had not arrived after %.0f s\n",
            order->liveNumber, kGiveUpSeconds);
    SendSignal(service.child, SIGTERM);
    WaitExit(service.child, std::chrono::seconds(30));
  } else if (!BenchStop(&service, &peakKiB, "CSocketClientOpen")) {
    exit(1);
  }
}

void Rows(const char* order, const std::vector<double>& latencies) {
  struct Goal {
    const char* name;
    double p, goal;
  } goals[] = {{"median", 0.5, 0.020}, {"p99", 0.99, 0.100}, {"max", 1.0, 0.250}};
  for (const Goal& g : goals) {
    double value = BenchPercentile(latencies, g.p);
    char name[32], figure[64], limit[64], ratio[32], goal[32];
    snprintf(name, sizeof name, "%s %s", order, g.name);
    snprintf(figure, sizeof figure, "%.1f ms", value * 1000);
    snprintf(limit, sizeof limit, "%.0f s (old loop, one pass)", kOldLoopPassSeconds);
    snprintf(ratio, sizeof ratio, "%.0e", value / kOldLoopPassSeconds);
    snprintf(goal, sizeof goal, "<= %.0f ms", g.goal * 1000);
    BenchRow(name, figure, limit, ratio, goal, value <= g.goal);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string tormel = fs::absolute(argc > 1 ? argv[1] : TORMEL_BIN).string();
  int records = argc > 2 ? atoi(argv[2]) : 50;
  unsigned seed = argc > 3 && atol(argv[3]) != 0 ? static_cast<unsigned>(atol(argv[3])) : std::random_device{}();
  int pauseMs = argc > 4 ? atoi(argv[4]) : 0;
  std::mt19937 random(seed);

  AckReceiver live;
  AckReceiverStart(&live);
  SilentStation silent(TEST_STATION_2, live.port);
  // Nobody listens on 127.0.0.3: its connections are refused.
  Order orders[2] = {{2 * kDeadPerStation + 1, {}, false}, {1, {}, false}};
  for (Order& order : orders) Measure(tormel.c_str(), &live, records, pauseMs, &random, &order);
  AckReceiverStop(&live);

  Rows("dead 1st", orders[0].latencies);
  Rows("live 1st", orders[1].latencies);
  printf("(%d appends each, seed %u, TIMEOUT %d, STATIONS and RETRYMAX default: %d files for 127.0.0.2 that never\n"
         " answers, %d for 127.0.0.3 that refuses; the live file 201, then 1",
         records, seed, kTimeoutSeconds, kDeadPerStation, kDeadPerStation);
  if (pauseMs > 0) printf("; %d ms between each open and its write", pauseMs);
  for (const Order& order : orders)
    if (order.gaveUp)
      printf(";\n with the live file %d a record had not arrived after %.0f s, %zu of %d written", order.liveNumber,
             kGiveUpSeconds, order.latencies.size(), records);
  printf(")\n");
  return 0;
}
