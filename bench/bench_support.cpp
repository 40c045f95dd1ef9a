#include "bench_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "buflayout.h"

namespace {

constexpr uint32_t kLoopback = 0x7f000001;
constexpr int kLongMs = 60000;

void Serve(AckReceiver* r, OsSocket client) {
  char frame[TORMEL_FRAME_SIZE];
  size_t got = 0;
  while (!r->stop) {
    int err = OsTcpRecv(client, frame, TORMEL_FRAME_SIZE, &got, 200);
    if (err == OS_NET_TIMEOUT && got == 0) continue;
    if (err != 0) return;
    double now = NowSeconds();
    if (r->frames++ == 0) r->firstFrameAt = now;
    r->lastFrameAt = now;
    char ack = '1';
    size_t sent = 0;
    if (OsTcpSend(client, &ack, 1, &sent, kLongMs) != 0) return;
  }
}

}  // namespace

void AckReceiverStart(AckReceiver* r) {
  OsNetStartup();
  if (OsTcpListen(kLoopback, 0, &r->listener, &r->port) != 0) {
    fprintf(stderr, "bench: cannot listen on 127.0.0.1\n");
    exit(1);
  }
  r->thread = std::thread([r] {
    while (!r->stop) {
      OsSocket client;
      if (OsTcpAccept(r->listener, 100, &client) != 0) continue;
      Serve(r, client);
      OsSocketClose(&client);
    }
  });
}

void AckReceiverReset(AckReceiver* r) {
  r->frames = 0;
  r->firstFrameAt = 0;
  r->lastFrameAt = 0;
}

void AckReceiverStop(AckReceiver* r) {
  r->stop = true;
  r->thread.join();
  OsSocketClose(&r->listener);
}

// The limit: nothing but the two system calls each record needs, on a
// blocking socket with the same TCP_NODELAY the service sets.
double RawExchangeRate(uint16_t port, long records) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(kLoopback);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    fprintf(stderr, "bench: cannot connect\n");
    exit(1);
  }
  char frame[TORMEL_FRAME_SIZE] = {};
  char reply[2];
  double start = NowSeconds();
  for (long i = 0; i < records; ++i) {
    if (send(fd, frame, TORMEL_FRAME_SIZE, MSG_NOSIGNAL) != static_cast<ssize_t>(TORMEL_FRAME_SIZE) || recv(fd, reply, 1, 0) != 1) {
      fprintf(stderr, "bench: raw exchange failed\n");
      exit(1);
    }
  }
  double rate = static_cast<double>(records) / (NowSeconds() - start);
  close(fd);
  return rate;
}

void BenchRow(const char* name, const char* figure, const char* limit, const char* ratio, const char* goal, bool met) {
  printf(BENCH_ROW_FORMAT, name, figure, limit, ratio, goal, met ? "yes" : "NO");
  fflush(stdout);
}

double NowSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double BenchPercentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  size_t at = static_cast<size_t>(p * static_cast<double>(values.size()) + 0.999999);
  return values[at == 0 ? 0 : at - 1];
}
