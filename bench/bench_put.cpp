// What durability costs a producer: tormelctl put's append (BufAppendLine),
// which returns only once the record is on the disk, into one file and into
// a new file per record, beside a bare loop in the same run that appends
// the same line without any sync (open, append, close; for new files
// create, append, close). Last, tormelctl put itself as a process per
// record, as producers call it.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "buffile.h"
#include "test_support.h"

namespace {

constexpr int kRuns = 3;

// Records per second of put(i) for i = 1..records, each run in a fresh
// folder; the best of kRuns, since a disk's sync times vary widely.
double Rate(long records, const std::function<bool(const std::string& folder, long i)>& put) {
  double best = 0;
  for (int run = 0; run < kRuns; ++run) {
    TempDir dir;
    double start = NowSeconds();
    for (long i = 1; i <= records; ++i) {
      if (!put(dir.path, i)) {
        fprintf(stderr, "bench: append %ld failed\n", i);
        exit(1);
      }
    }
    best = std::max(best, static_cast<double>(records) / (NowSeconds() - start));
  }
  return best;
}

std::string Buffer(const std::string& folder, long n) { return folder + "/TORMEL" + std::to_string(n) + ".BUF"; }

bool BareAppend(const std::string& path, const std::string& line, int create) {
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | create, 0660);
  bool ok = fd >= 0 && write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  if (fd >= 0) close(fd);
  return ok;
}

bool Put(const std::string& path, const std::string& line) {
  return BufAppendLine(path.c_str(), line.data(), line.size()) == 0;
}

void Row(const char* name, double put, double bare) {
  char figure[64], limit[64], ratio[16];
  snprintf(figure, sizeof figure, "%.0f records/s", put);
  snprintf(limit, sizeof limit, "%.0f records/s, no sync", bare);
  snprintf(ratio, sizeof ratio, "%.4f", put / bare);
  BenchRow(name, figure, limit, ratio, "-", true);
}

// tormelctl put as producers call it, a process per record, into one file.
// Spawned and awaited directly: the test support's wait polls, which would
// cost each put a few milliseconds more.
double ProcessRate(const std::string& ctl, long records) {
  TempDir dir;
  const std::string params = WriteParams(dir.path, 6665);
  std::vector<std::string> args{ctl, "put", "--config", params, "--number", "1", "--to", "127.0.0.1", "a record"};
  std::vector<char*> spawnArgs;
  for (std::string& a : args) spawnArgs.push_back(a.data());
  spawnArgs.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  if (chdir(dir.path.c_str()) != 0) exit(1);
  double start = NowSeconds();
  for (long i = 0; i < records; ++i) {
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, ctl.c_str(), &quiet, nullptr, spawnArgs.data(), environ) != 0 ||
        waitpid(pid, &status, 0) != pid || status != 0) {
      fprintf(stderr, "bench: tormelctl put failed\n");
      exit(1);
    }
  }
  double rate = static_cast<double>(records) / (NowSeconds() - start);
  posix_spawn_file_actions_destroy(&quiet);
  return rate;
}

}  // namespace

int main(int argc, char** argv) {
  long records = argc > 1 ? atol(argv[1]) : 1000;
  const std::string ctl = std::filesystem::absolute(argc > 2 ? argv[2] : TORMELCTL_BIN).string();
  const std::string line = BufRecordLine("127.0.0.1", "a record of one producer");

  double bareOne = Rate(records, [&](const std::string& d, long) { return BareAppend(Buffer(d, 1), line, O_CREAT); });
  double putOne = Rate(records, [&](const std::string& d, long) { return Put(Buffer(d, 1), line); });
  Row("put, one file", putOne, bareOne);
  double bareNew = Rate(records, [&](const std::string& d, long i) {
    return BareAppend(Buffer(d, i), line, O_CREAT | O_EXCL);
  });
  double putNew = Rate(records, [&](const std::string& d, long i) { return Put(Buffer(d, i), line); });
  Row("put, new files", putNew, bareNew);

  double process = ProcessRate(ctl, records);
  printf("(%ld records each, best of %d runs; tormelctl put, a process per record, into one file: %.0f records/s)\n",
         records, kRuns, process);
  return 0;
}
