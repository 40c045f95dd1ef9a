#include "bench_support.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr size_t kFrame = 512;
constexpr uint32_t kLoopback = 0x7f000001;
constexpr int kLongMs = 60000;

void Serve(AckReceiver* r, OsSocket client) {
  char frame[kFrame];
  size_t got = 0;
  while (!r->stop) {
    int err = OsTcpRecv(client, frame, kFrame, &got, 200);
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

double RawExchangeRate(uint16_t port, long records) {
  OsSocket s;
  if (OsTcpConnect(kLoopback, port, kLongMs, &s) != 0) {
    fprintf(stderr, "bench: cannot connect\n");
    exit(1);
  }
  char frame[kFrame] = {};
  char reply[2];
  double start = NowSeconds();
  for (long i = 0; i < records; ++i) {
    size_t n = 0;
    if (OsTcpSend(s, frame, kFrame, &n, kLongMs) != 0 || OsTcpRecv(s, reply, 1, &n, kLongMs) != 0) {
      fprintf(stderr, "bench: raw exchange failed\n");
      exit(1);
    }
  }
  double rate = static_cast<double>(records) / (NowSeconds() - start);
  OsSocketClose(&s);
  return rate;
}

double NowSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
