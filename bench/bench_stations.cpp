// Stations served at once: eight reference receivers, each on a loopback
// address of its own (127.0.0.1 to 127.0.0.8, one port) and answering every
// frame 20 ms after it came, each with a backlog in a buffer file of its
// own, WINDOW 64. The drain rate of all of them together, from the first
// frame to the last, beside the limit of stations x WINDOW / round trip.
//   bench_stations [TORMEL] [RECEIVER] [RECORDS_PER_STATION]
#include <poll.h>
#include <unistd.h>

#include <algorithm>
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

constexpr int kStations = 8;  // the default STATIONS
constexpr int kWindow = 64;
constexpr int kRoundTripMs = 20;
constexpr double kGiveUpSeconds = 120;

std::string Address(int station) { return "127.0.0." + std::to_string(station + 1); }

// When a receiver printed its first and its last record, and how many.
struct Arrivals {
  long records = 0;
  double first = 0;
  double last = 0;
};

// Reads the receivers' lines as they come until `expected` records have
// come in all.
void Collect(BenchService* service, BenchReceiver* receivers, Arrivals* arrivals, long expected) {
  pollfd fds[kStations];
  for (int i = 0; i < kStations; ++i) fds[i] = pollfd{receivers[i].records, POLLIN, 0};
  long total = 0;
  double start = NowSeconds();
  char chunk[65536];
  while (total < expected) {
    BenchCheckAlive(*service);
    if (NowSeconds() - start > kGiveUpSeconds) {
      std::string what = std::to_string(total) + " of " + std::to_string(expected) + " records arrived";
      BenchFail(service, what.c_str());
    }
    if (poll(fds, kStations, 100) <= 0) continue;
    for (int i = 0; i < kStations; ++i) {
      if ((fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
      ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
      if (got <= 0) BenchFail(service, ("the receiver on " + Address(i) + " ended").c_str());
      double now = NowSeconds();
      long lines = std::count(chunk, chunk + got, '\n');
      if (lines == 0) continue;
      if (arrivals[i].records == 0) arrivals[i].first = now;
      arrivals[i].last = now;
      arrivals[i].records += lines;
      total += lines;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string tormel = fs::absolute(argc > 1 ? argv[1] : TORMEL_BIN).string();
  std::string receiverProgram = fs::absolute(argc > 2 ? argv[2] : TORMEL_RECEIVER_BIN).string();
  long perStation = argc > 3 ? atol(argv[3]) : 5000;

  BenchReceiver receivers[kStations];
  for (int i = 0; i < kStations; ++i)
    receivers[i] = BenchReceiverStart(receiverProgram, Address(i), i == 0 ? 0 : receivers[0].port, kRoundTripMs, true);
  BenchService service(receivers[0].port, "WINDOW = " + std::to_string(kWindow) + "\r\n");
  for (int i = 0; i < kStations; ++i) {
    std::ofstream out(service.folder.Buffer(i + 1), std::ios::binary);
    for (long r = 0; r < perStation; ++r) out << BufferLine("backlog record " + std::to_string(r), '$', Address(i));
  }
  Arrivals arrivals[kStations];
  BenchStart(&service, tormel.c_str());
  Collect(&service, receivers, arrivals, kStations * perStation);
  for (int i = 0; i < kStations; ++i)
    while (FileExists(service.folder.Buffer(i + 1))) {
      BenchCheckAlive(service);
      usleep(2000);
    }
  long peakKiB = 0;
  if (!BenchStop(&service, &peakKiB)) exit(1);
  for (BenchReceiver& r : receivers) BenchReceiverStop(&r);

  double first = arrivals[0].first, last = arrivals[0].last, slowest = 1e30, fastest = 0;
  for (const Arrivals& a : arrivals) {
    if (a.records != perStation) {
      fprintf(stderr, "bench: a station got %ld records of %ld\n", a.records, perStation);
      exit(1);
    }
    first = std::min(first, a.first);
    last = std::max(last, a.last);
    double rate = static_cast<double>(a.records - 1) / (a.last - a.first);
    slowest = std::min(slowest, rate);
    fastest = std::max(fastest, rate);
  }
  double rate = static_cast<double>(kStations * perStation - 1) / (last - first);
  double bound = 1000.0 * kStations * kWindow / kRoundTripMs;
  char figure[64], limit[64], ratio[32];
  snprintf(figure, sizeof figure, "%.0f records/s", rate);
  snprintf(limit, sizeof limit, "%.0f records/s (8 x W / RTT)", bound);
  snprintf(ratio, sizeof ratio, "%.3f", rate / bound);
  BenchRow("8 stations, W64", figure, limit, ratio, "ratio >= 0.8", rate / bound >= 0.8);
  printf("(%d reference receivers with --rtt-ms %d, %ld records each, all in %.2f s; one station alone\n"
         " %.0f to %.0f records/s, its limit %.0f)\n",
         kStations, kRoundTripMs, perStation, last - first, slowest, fastest, 1000.0 * kWindow / kRoundTripMs);
  return 0;
}
