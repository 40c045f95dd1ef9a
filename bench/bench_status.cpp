// What an operator asks while a station is down: `tormelctl status` beside
// the running service, 1,000 buffer files waiting for a station that
// refuses connections and a published state that says since when. The time
// from the start of the command to its end, the median of repeated runs.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_process.h"
#include "bench_support.h"

int main(int argc, char** argv) {
  const long files = argc > 1 ? atol(argv[1]) : 1000;
  const int runs = argc > 2 ? atoi(argv[2]) : 11;
  uint16_t port = 0;
  {
    AckReceiver gone;  // a port nobody listens on once it is gone
    AckReceiverStart(&gone);
    port = gone.port;
    AckReceiverStop(&gone);
  }
  BenchService service(port);
  for (long n = 1; n <= files; ++n) {
    std::string file;
    for (int k = 0; k < 10; ++k) file += BufferLine("record " + std::to_string(k));
    WriteFile(service.folder.Buffer(static_cast<int>(n)), file);
  }
  BenchStart(&service, TORMEL_BIN);
  BenchWaitReady(service);
  // The station has failed, and the state says so.
  std::string out;
  // Down, or resting between two tries: the state knows either way.
  auto down = [&] { return out.find("DOWN") != std::string::npos || out.find("in backoff, down") != std::string::npos; };
  for (int i = 0; i < 100 && !down(); ++i) {
    service.folder.RunProgram(TORMELCTL_BIN, {"status", service.params}, &out);
    usleep(100000);
  }
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    double start = NowSeconds();
    service.folder.RunProgram(TORMELCTL_BIN, {"status", service.params}, &out);
    ms.push_back((NowSeconds() - start) * 1000);
  }
  std::sort(ms.begin(), ms.end());
  double median = ms[ms.size() / 2];
  // Its log holds the failed connections: stopped without looking.
  ServiceFolder::Stop(service.child);
  char figure[64], limit[64], ratio[16];
  snprintf(figure, sizeof figure, "%.1f ms", median);
  snprintf(limit, sizeof limit, "%ld files, station down", files);
  snprintf(ratio, sizeof ratio, "%.2f", median / 100.0);
  BenchRow("status", figure, limit, ratio, "< 100 ms", down() && median < 100.0);
  return 0;
}
