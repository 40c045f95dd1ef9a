// The service while it waits for work: the CPU it uses over 30 idle seconds,
// and the time from a producer's write to the frame at the receiver, at
// random moments, in three cases taken in turn: a new file 1 in an empty
// folder, a record appended to a file the service holds (number 9, kept open
// by its producer), and a new file 5 while 1 to 4 are absent.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <vector>

#include "bench_process.h"
#include "bench_support.h"

namespace fs = std::filesystem;

namespace {

void Sleep(double seconds) { usleep(static_cast<useconds_t>(seconds * 1e6)); }

}  // namespace

int main(int argc, char** argv) {
  std::string program = fs::absolute(argc > 1 ? argv[1] : TORMEL_BIN).string();
  double idleSeconds = argc > 2 ? atof(argv[2]) : 30;
  int files = argc > 3 ? atoi(argv[3]) : 210;
  unsigned seed = argc > 4 ? static_cast<unsigned>(atol(argv[4])) : std::random_device{}();

  AckReceiver receiver;
  AckReceiverStart(&receiver);
  BenchService service(receiver.port);
  BenchStart(&service, program.c_str());
  BenchWaitReady(service);

  // Idle: start-up is over once the start event is set; a second more lets
  // it settle into its probing.
  Sleep(1);
  uint64_t cpuBefore = BenchCpuNs(service.child.pid);
  double idleStart = NowSeconds();
  Sleep(idleSeconds);
  double idleCpu = static_cast<double>(BenchCpuNs(service.child.pid) - cpuBefore) / 1e9;
  double idleShare = idleCpu / (NowSeconds() - idleStart);

  std::mt19937 random(seed);
  std::uniform_real_distribution<double> gap(0, 0.6);
  std::vector<double> latencies, byCase[3];
  FILE* held = fopen(service.folder.Buffer(9).c_str(), "ab");
  if (held == nullptr) return 1;
  auto waitFrame = [&](double written) {
    while (receiver.frames == 0) {
      BenchCheckAlive(service);
      usleep(100);
    }
    return receiver.firstFrameAt - written;
  };
  for (int i = 0; i < files; ++i) {
    Sleep(gap(random));
    int which = i % 3;
    AckReceiverReset(&receiver);
    double latency = 0;
    if (which == 1) {
      std::string line = BufferLine("appended probe");
      double written = NowSeconds();
      fputs(line.c_str(), held);
      fflush(held);
      latency = waitFrame(written);
    } else {
      unsigned n = which == 0 ? 1 : 5;
      double placed = NowSeconds();
      PlaceFile(service.folder.Buffer(static_cast<int>(n)), BufferLine("new file probe"));
      latency = waitFrame(placed);
      while (FileExists(service.folder.Buffer(static_cast<int>(n)))) usleep(1000);
    }
    latencies.push_back(latency);
    byCase[which].push_back(latency);
  }
  fclose(held);
  long peakKiB = 0;
  if (!BenchStop(&service, &peakKiB)) return 1;
  AckReceiverStop(&receiver);

  char figure[64], limit[64], ratio[32];
  struct Goal {
    const char* name;
    double p, goal;
  } goals[] = {{"latency median", 0.5, 0.020}, {"latency p99", 0.99, 0.050}, {"latency max", 1.0, 0.100}};
  for (const Goal& g : goals) {
    double value = BenchPercentile(latencies, g.p);
    snprintf(figure, sizeof figure, "%.1f ms", value * 1000);
    snprintf(limit, sizeof limit, "500 ms (one pause)");
    snprintf(ratio, sizeof ratio, "%.3f", value / 0.5);
    char goal[32];
    snprintf(goal, sizeof goal, "<= %.0f ms", g.goal * 1000);
    BenchRow(g.name, figure, limit, ratio, goal, value <= g.goal);
  }
  snprintf(figure, sizeof figure, "%.4f %% of a core", idleShare * 100);
  snprintf(limit, sizeof limit, "%.1f ms CPU in %.0f s", idleCpu * 1000, idleSeconds);
  snprintf(ratio, sizeof ratio, "%.3f", idleShare / 0.001);
  BenchRow("idle cost", figure, limit, ratio, "< 0.1 % of a core", idleShare < 0.001);
  printf("(latency over %d writes, seed %u: medians %.1f ms new file 1, %.1f ms appended, %.1f ms new file 5;\n"
         " idle CPU from /proc/<pid>/schedstat)\n",
         files, seed, BenchPercentile(byCase[0], 0.5) * 1000, BenchPercentile(byCase[1], 0.5) * 1000,
         BenchPercentile(byCase[2], 0.5) * 1000);
  return 0;
}
