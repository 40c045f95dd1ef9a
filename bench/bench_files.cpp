// Many small buffer files: the real `tormel` program delivering files of one
// record each, numbered without gaps, as a producer that writes one file per
// record leaves them. Files per second from the service's start to the last
// file gone, for each program named on the command line, so that two builds
// can be set side by side in one run.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_process.h"
#include "bench_support.h"

namespace fs = std::filesystem;

namespace {

double FilesPerSecond(const char* tormel, AckReceiver* receiver, long files) {
  BenchService service(receiver->port);
  for (long n = 1; n <= files; ++n) {
    WriteFile(service.folder.Buffer(static_cast<int>(n)), BufferLine("small file " + std::to_string(n)));
  }
  AckReceiverReset(receiver);
  std::string last = service.folder.Buffer(static_cast<int>(files));
  double start = NowSeconds();
  BenchStart(&service, tormel);
  while (FileExists(last)) {
    BenchCheckAlive(service);
    usleep(2000);
  }
  double seconds = NowSeconds() - start;
  long peakKiB = 0;
  if (!BenchStop(&service, &peakKiB) || receiver->frames != files) {
    fprintf(stderr, "bench: %ld of %ld files arrived\n", static_cast<long>(receiver->frames), files);
    exit(1);
  }
  return static_cast<double>(files) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  long files = argc > 1 ? atol(argv[1]) : 10000;
  std::vector<std::string> programs;
  for (int i = 2; i < argc; ++i) programs.push_back(fs::absolute(argv[i]).string());
  if (programs.empty()) programs.push_back(TORMEL_BIN);

  AckReceiver receiver;
  AckReceiverStart(&receiver);
  for (const std::string& program : programs) {
    double rate = FilesPerSecond(program.c_str(), &receiver, files);
    char figure[64], limit[64];
    snprintf(figure, sizeof figure, "%.0f files/s", rate);
    snprintf(limit, sizeof limit, "%ld files, 1 record each", files);
    std::string name = "small files";
    if (programs.size() > 1) name.append(" ").append(fs::path(program).parent_path().filename().string());
    BenchRow(name.c_str(), figure, limit, "-", "-", true);
  }
  AckReceiverStop(&receiver);
  return 0;
}
