// A station that comes back: nothing listens on its address (127.0.0.4)
// while a file for it waits, long enough for its backoff to reach RETRYMAX;
// then a receiver listens there again. The time from then to the service's
// next connection, beside the RETRYMAX x 1.2 within which it is promised.
//   bench_recovery [TORMEL] [RETRYMAX] [DOWN_SECONDS]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_process.h"
#include "bench_support.h"
#include "test_receiver.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kStation = 0x7f000004;  // 127.0.0.4
constexpr const char* kFailure = "CSocketClientOpen";

// Seconds of the day of each failed connection in the log.
std::vector<double> FailureTimes(const std::string& log) {
  std::vector<double> times;
  for (const std::string& entry : TextLines(log)) {
    int h = 0, m = 0;
    double s = 0;
    if (entry.find(kFailure) != std::string::npos && sscanf(entry.c_str(), "%*d-%*d-%*d %d:%d:%lf", &h, &m, &s) == 3)
      times.push_back(h * 3600 + m * 60 + s);
  }
  return times;
}

}  // namespace

int main(int argc, char** argv) {
  std::string tormel = fs::absolute(argc > 1 ? argv[1] : TORMEL_BIN).string();
  int retryMax = argc > 2 ? atoi(argv[2]) : 10;
  double downSeconds = argc > 3 ? atof(argv[3]) : 60;

  TestReceiver station(kStation, 0);
  station.RefuseConnections(true);
  BenchService service(station.port, "TIMEOUT = 3\r\nRETRYMAX = " + std::to_string(retryMax) + "\r\n");
  PlaceFile(service.folder.Buffer(1), BufferLine("waiting for its station", '$', "127.0.0.4"));
  BenchStart(&service, tormel.c_str());
  BenchWaitReady(service);
  double down = NowSeconds();
  while (NowSeconds() - down < downSeconds) {
    BenchCheckAlive(service);
    usleep(100000);
  }
  std::vector<double> failures = FailureTimes(service.folder.Log());
  // A refused connection fails at once, so the last two failures are one
  // backoff apart: RETRYMAX, spread by up to 20 % (the log has milliseconds).
  double lastGap = failures.size() >= 2 ? failures.back() - failures[failures.size() - 2] : 0;
  if (lastGap < 0) lastGap += 86400;
  bool reached = lastGap >= 0.8 * retryMax - 0.002;
  station.RefuseConnections(false);
  double back = NowSeconds();
  double promised = retryMax * 1.2;
  while (station.Connections() == 0 && NowSeconds() - back < 2 * promised + 10) {
    BenchCheckAlive(service);
    usleep(1000);
  }
  double tried = NowSeconds() - back;
  bool delivered = WaitFor([&] { return !FileExists(service.folder.Buffer(1)); }, std::chrono::seconds(10));
  long peakKiB = 0;
  if (!delivered) BenchFail(&service, "the waiting record was not delivered");
  if (!BenchStop(&service, &peakKiB, kFailure) || station.FrameCount() != 1) {
    fprintf(stderr, "bench: the waiting record did not arrive once\n");
    exit(1);
  }
  char figure[64], limit[64], ratio[32], goal[32];
  snprintf(figure, sizeof figure, "%.1f s after its return", tried);
  snprintf(limit, sizeof limit, "%.1f s (RETRYMAX %d x 1.2)", promised, retryMax);
  snprintf(ratio, sizeof ratio, "%.3f", tried / promised);
  snprintf(goal, sizeof goal, "<= %.0f s", promised);
  BenchRow("recovery", figure, limit, ratio, goal, tried <= promised && reached);
  printf("(down %.0f s with RETRYMAX %d: %zu failed connections, the last two %.1f s apart; the backoff\n"
         " %s RETRYMAX before the receiver came back)\n",
         downSeconds, retryMax, failures.size(), lastGap, reached ? "had reached" : "had NOT reached");
  return 0;
}
