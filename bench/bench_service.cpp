// The whole service delivering one buffer file: the real `tormel` program
// started as a process against an acknowledging receiver, its rate beside
// the raw exchange limit measured in the same run, and its peak resident
// memory for a small and a large file.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_support.h"

namespace fs = std::filesystem;

namespace {

struct Delivery {
  double rate = 0;  // records per second from the first frame to the last
  double seconds = 0;
  long peakKiB = 0;
};

void WriteBufferFile(const fs::path& path, long records) {
  std::ofstream out(path, std::ios::binary);
  std::string head = "$" + std::string(37, ' ') + "127.0.0.1      " + std::string(5, ' ');
  char content[64];
  for (long i = 0; i < records; ++i) {
    int n = snprintf(content, sizeof content, "benchmark record %08ld\r\n", i);
    out << head;
    out.write(content, n);
  }
}

Delivery Deliver(const char* tormel, AckReceiver* receiver, long records) {
  uint16_t port = receiver->port;
  fs::path dir = fs::temp_directory_path() / ("tormel-bench-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "run");
  std::ofstream(dir / "SOCKIO.INI") << "KEYINI\r\n[TORMEL]\r\nXFRIP = 127.0.0.1\r\nXFRPORT = " << port
                                    << "\r\nBUFFDATEI = TORMEL.BUF\r\nLOGDATEI = TORMEL.LOG\r\n"
                                       "ERRLEVEL = 1000\r\nMAXLOGSIZE = 100\r\nTIMEOUT = 10\r\n";
  WriteBufferFile(dir / "TORMEL1.BUF", records);

  AckReceiverReset(receiver);
  double start = NowSeconds();
  pid_t pid = fork();
  if (pid == 0) {
    setenv("TORMEL_RUNTIME_DIR", (dir / "run").c_str(), 1);
    if (chdir(dir.c_str()) != 0) _exit(126);
    execl(tormel, tormel, (dir / "SOCKIO.INI").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  while (fs::exists(dir / "TORMEL1.BUF")) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      fprintf(stderr, "bench: the service ended early with status %d (see %s)\n", status, dir.c_str());
      exit(1);
    }
    usleep(10000);
  }
  Delivery d;
  d.seconds = NowSeconds() - start;
  d.rate = static_cast<double>(receiver->frames - 1) / (receiver->lastFrameAt - receiver->firstFrameAt);
  kill(pid, SIGTERM);
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  d.peakKiB = usage.ru_maxrss;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || fs::file_size(dir / "TORMEL.LOG") != 0) {
    fprintf(stderr, "bench: the service did not end cleanly (see %s)\n", dir.c_str());
    exit(1);
  }
  fs::remove_all(dir);
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
  double raw = RawExchangeRate(receiver.port, records);
  Delivery whole = Deliver(tormel, &receiver, records);
  double rawAfter = RawExchangeRate(receiver.port, records);
  raw = raw > rawAfter ? raw : rawAfter;
  Delivery memSmall = Deliver(tormel, &receiver, small);
  Delivery memLarge = Deliver(tormel, &receiver, large);
  AckReceiverStop(&receiver);

  double rate = whole.rate;
  printf("%-28s %12s %12s %7s %s\n", "benchmark", "figure", "limit", "ratio", "goal");
  printf("%-28s %12.0f %12.0f %7.3f %s\n", "service records/s", rate, raw, rate / raw, "ratio >= 0.85");
  printf("%-28s %9ld KiB %8ld KiB %7.3f %s\n", "peak memory 10k vs large", memSmall.peakKiB, memLarge.peakKiB,
         static_cast<double>(memLarge.peakKiB) / static_cast<double>(memSmall.peakKiB), "ratio <= 1.10, < 8 MiB");
  printf("(large file: %ld records in %.1f s)\n", large, memLarge.seconds);
  return 0;
}
