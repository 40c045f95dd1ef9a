// Many small buffer files: the real `tormel` program delivering files of one
// record each, numbered without gaps, as a producer that writes one file per
// record leaves them. Files per second from the service's start to the last
// file gone, for each program named on the command line, so that two builds
// can be set side by side in one run.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_process.h"
#include "buflayout.h"
#include "bench_support.h"

namespace fs = std::filesystem;

namespace {

void WriteFiles(const ServiceFolder& folder, long files) {
  for (long n = 1; n <= files; ++n)
    WriteFile(folder.Buffer(static_cast<int>(n)), BufferLine("small file " + std::to_string(n)));
}

// The least work a file of one record takes: open and read it, connect,
// one frame, the answer, the mark, close, remove; nothing else. Files per
// second.
double BareLoopFilesPerSecond(AckReceiver* receiver, long files) {
  ServiceFolder folder;
  WriteFiles(folder, files);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(receiver->port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  char line[TORMEL_LINE_SIZE], frame[TORMEL_FRAME_SIZE] = {};
  double start = NowSeconds();
  for (long n = 1; n <= files; ++n) {
    std::string path = folder.Buffer(static_cast<int>(n));
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    ssize_t got = fd < 0 ? -1 : pread(fd, line, sizeof line, 0);
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char answer = 0;
    if (got <= 0 || connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
        send(s, frame, sizeof frame, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof frame) || recv(s, &answer, 1, 0) != 1 ||
        pwrite(fd, "*", 1, 0) != 1) {
      fprintf(stderr, "bench: the bare loop failed at file %ld\n", n);
      exit(1);
    }
    close(fd);
    close(s);
    unlink(path.c_str());
  }
  return static_cast<double>(files) / (NowSeconds() - start);
}

double FilesPerSecond(const char* tormel, AckReceiver* receiver, long files) {
  BenchService service(receiver->port);
  WriteFiles(service.folder, files);
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
  // The bare loop before and after, the better counting: a busy moment of
  // the machine must not flatter the ratio.
  auto bareLoop = [&] { return BareLoopFilesPerSecond(&receiver, files); };
  double bare = BenchRateInChild("the bare loop", bareLoop, std::chrono::seconds(120));
  std::vector<double> rates;
  for (const std::string& program : programs) rates.push_back(FilesPerSecond(program.c_str(), &receiver, files));
  bare = std::max(bare, BenchRateInChild("the bare loop", bareLoop, std::chrono::seconds(120)));
  for (size_t i = 0; i < programs.size(); ++i) {
    char figure[64], limit[64], ratio[16];
    snprintf(figure, sizeof figure, "%.0f files/s", rates[i]);
    snprintf(limit, sizeof limit, "%.0f files/s bare loop", bare);
    snprintf(ratio, sizeof ratio, "%.3f", rates[i] / bare);
    std::string name = "small files";
    if (programs.size() > 1) name.append(" ").append(fs::path(programs[i]).parent_path().filename().string());
    BenchRow(name.c_str(), figure, limit, ratio, i == 0 ? "ratio >= 0.7" : "-", i > 0 || rates[i] / bare >= 0.7);
  }
  AckReceiverStop(&receiver);
  return 0;
}
