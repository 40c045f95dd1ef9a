// tormel-receiver: the receiving end of the record exchange, for testing an
// installation and for our own tests and benchmarks. It reads 512-byte
// frames, prints one line per record and answers "1".
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <climits>
#include <cstring>
#include <string>

#include "buflayout.h"
#include "os_net.h"
#include "os_stop.h"
#include "os_time.h"
#include "sockio.h"
#include "text.h"

namespace {

constexpr int kPollMs = 200;

struct ReceiverOptions {
  const char* bind = "127.0.0.1";
  uint64_t port = 6665;
  uint64_t zeroEvery = 0;   // answer "0" to every k-th frame
  uint64_t closeEvery = 0;  // close without answering every k-th frame
  uint64_t delayMs = 0;     // wait before each answer
  uint64_t rttMs = 0;       // answer each frame this long after it came, reading on meanwhile
  char answer = '1';
  bool quiet = false;
  const char* portFile = nullptr;
};

void Usage() {
  fprintf(stderr,
          "usage: tormel-receiver [--port N] [--bind IP] [--zero-every K] [--close-every K]\n"
          "                       [--delay-ms MS] [--rtt-ms MS] [--answer C] [--quiet] [--port-file PATH]\n"
          "  Listens on 127.0.0.1 (or --bind), port 6665 (0: any free port), reads\n"
          "  512-byte frames, prints one line per record and answers \"1\".\n"
          "  --zero-every K   answer \"0\" to every K-th frame\n"
          "  --close-every K  close the connection without answering every K-th frame\n"
          "  --delay-ms MS    wait MS milliseconds before each answer\n"
          "  --rtt-ms MS      answer each frame MS milliseconds after it came, reading on\n"
          "                   meanwhile: a fast receiver at the end of a long link\n"
          "  --answer C       answer the character C instead of \"1\"\n"
          "  --quiet          print nothing per record\n"
          "  --port-file PATH write the port in use to PATH once listening\n");
}

bool ParseOptions(int argc, char** argv, ReceiverOptions* o) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--quiet") {
      o->quiet = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    bool ok = true;
    if (name == "--port") ok = TextIsNumberIn(value, 0, 65535, &o->port);
    else if (name == "--bind") o->bind = value;
    else if (name == "--zero-every") ok = TextIsNumberIn(value, 0, LONG_MAX, &o->zeroEvery);
    else if (name == "--close-every") ok = TextIsNumberIn(value, 0, LONG_MAX, &o->closeEvery);
    else if (name == "--delay-ms") ok = TextIsNumberIn(value, 0, LONG_MAX, &o->delayMs);
    else if (name == "--rtt-ms") ok = TextIsNumberIn(value, 0, LONG_MAX, &o->rttMs);
    else if (name == "--answer") ok = strlen(value) == 1, o->answer = value[0];
    else if (name == "--port-file") o->portFile = value;
    else ok = false;
    if (!ok) return false;
  }
  return true;
}

// One output line: sender address and port text, trimmed, and the record
// content up to its zero byte without its line end, control bytes escaped.
void PrintRecord(const char* frame) {
  std::string line;
  auto field = [&](size_t from, size_t width) {
    size_t end = from + width;
    while (end > from && (frame[end - 1] == ' ' || frame[end - 1] == '\0')) --end;
    line.append(frame + from, end - from);
  };
  field(0, TORMEL_ADDRESS_WIDTH);
  line += ' ';
  field(TORMEL_ADDRESS_WIDTH, TORMEL_PORT_WIDTH);
  line += ' ';
  size_t end = TORMEL_PREFIX_SIZE;
  while (end < TORMEL_FRAME_SIZE && frame[end] != '\0') ++end;
  if (end > TORMEL_PREFIX_SIZE && frame[end - 1] == '\n') --end;
  for (size_t i = TORMEL_PREFIX_SIZE; i < end; ++i) {
    unsigned char c = static_cast<unsigned char>(frame[i]);
    if (c < 0x20 || c == 0x7f || c == '\\') {
      char hex[5];
      snprintf(hex, sizeof hex, c == '\\' ? "\\\\" : "\\x%02x", c);
      line += hex;
    } else {
      line += static_cast<char>(c);
    }
  }
  line += '\n';
  fwrite(line.data(), 1, line.size(), stdout);
  fflush(stdout);
}

char Answer(const ReceiverOptions& o, long n) { return o.zeroEvery > 0 && n % o.zeroEvery == 0 ? '0' : o.answer; }

// Reads frames, waking regularly to notice a stop request, and answers each
// after delayMs before the next is read; with rttMs, as over a long link,
// each answer leaves rttMs after its frame came, and the frames after it
// are read meanwhile.
void Serve(OsSocket client, const ReceiverOptions& o, long* frames) {
  std::deque<std::pair<uint64_t, char>> due;  // when each answer leaves, and what it is
  char frame[TORMEL_FRAME_SIZE];
  size_t have = 0;
  while (!OsStopRequested()) {
    uint64_t now = OsMonotonicMs();
    std::string answers;
    for (; !due.empty() && due.front().first <= now; due.pop_front()) answers += due.front().second;
    size_t sent = 0;
    if (!answers.empty() && OsTcpSend(client, answers.data(), answers.size(), &sent, 10000) != 0) return;
    int wait = due.empty() ? kPollMs : static_cast<int>(std::min<uint64_t>(kPollMs, due.front().first - now));
    size_t got = 0;
    int err = OsTcpRecvSome(client, frame + have, TORMEL_FRAME_SIZE - have, &got, wait);
    if (err == OS_NET_TIMEOUT) continue;
    if (err != 0) return;
    have += got;
    if (have < TORMEL_FRAME_SIZE) continue;
    have = 0;
    long n = ++*frames;
    if (!o.quiet) PrintRecord(frame);
    if (o.closeEvery > 0 && n % o.closeEvery == 0) return;
    if (o.rttMs > 0) {
      due.emplace_back(OsMonotonicMs() + o.rttMs, Answer(o, n));
    } else {
      if (o.delayMs > 0) OsSleepMs(static_cast<uint32_t>(o.delayMs));
      char answer = Answer(o, n);
      if (OsTcpSend(client, &answer, 1, &sent, 10000) != 0) return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  ReceiverOptions o;
  uint32_t ipv4 = 0;
  if (!ParseOptions(argc, argv, &o) || !SockioParseIPv4(o.bind, static_cast<int>(strlen(o.bind)), &ipv4)) {
    Usage();
    return 2;
  }
  OsIgnoreBrokenPipe();
  OsStopOnSignals(OsEvent{});
  OsNetStartup();

  OsSocket listener;
  uint16_t port = 0;
  int err = OsTcpListen(ipv4, static_cast<uint16_t>(o.port), &listener, &port);
  if (err != 0) {
    fprintf(stderr, "tormel-receiver: cannot listen on %s:%ld (error %d)\n", o.bind, static_cast<long>(o.port), err);
    return 1;
  }
  fprintf(stderr, "tormel-receiver: listening on %s:%u\n", o.bind, port);
  if (o.portFile) {
    std::string tmp = std::string(o.portFile) + ".tmp";
    if (FILE* f = fopen(tmp.c_str(), "w")) {
      fprintf(f, "%u\n", port);
      fclose(f);
      rename(tmp.c_str(), o.portFile);
    }
  }

  long frames = 0;
  while (!OsStopRequested()) {
    OsSocket client;
    err = OsTcpAccept(listener, kPollMs, &client);
    if (err == OS_NET_TIMEOUT) continue;
    if (err != 0) break;
    Serve(client, o, &frames);
    OsSocketClose(&client);
  }
  OsSocketClose(&listener);
  fprintf(stderr, "tormel-receiver: %ld frames received\n", frames);
  return 0;
}
