#include "bench_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench_support.h"


namespace fs = std::filesystem;

BenchService BenchPrepare(const char* name, uint16_t port, const std::string& extra) {
  BenchService s;
  s.dir = fs::temp_directory_path() / (std::string("tormel-") + name + "-" + std::to_string(getpid()));
  fs::remove_all(s.dir);
  fs::create_directories(s.dir / "run");
  std::ofstream(s.dir / "SOCKIO.INI") << "KEYINI\r\n[TORMEL]\r\nXFRIP = 127.0.0.1\r\nXFRPORT = " << port
                                      << "\r\nBUFFDATEI = TORMEL.BUF\r\nLOGDATEI = TORMEL.LOG\r\n"
                                         "ERRLEVEL = 1000\r\nMAXLOGSIZE = 100\r\nTIMEOUT = 10\r\n"
                                      << extra;
  return s;
}

void BenchStart(BenchService* s, const char* tormel) {
  s->pid = fork();
  if (s->pid == 0) {
    setenv("TORMEL_RUNTIME_DIR", (s->dir / "run").c_str(), 1);
    if (chdir(s->dir.c_str()) != 0) _exit(126);
    execl(tormel, tormel, (s->dir / "SOCKIO.INI").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
}

void BenchWaitReady(const BenchService& s) {
  for (;;) {
    std::ifstream event(s.dir / "run" / "StartTormelEvent");
    if (event.get() == '1') return;
    BenchCheckAlive(s);
    usleep(10000);
  }
}

void BenchCheckAlive(const BenchService& s) {
  int status = 0;
  if (waitpid(s.pid, &status, WNOHANG) != s.pid) return;
  fprintf(stderr, "bench: the service ended early with status %d (see %s)\n", status, s.dir.c_str());
  exit(1);
}

bool BenchStop(BenchService* s, rusage* usage) {
  kill(s->pid, SIGTERM);
  int status = 0;
  wait4(s->pid, &status, 0, usage);
  std::error_code ec;
  bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0 && fs::file_size(s->dir / "TORMEL.LOG", ec) == 0;
  if (!clean) {
    fprintf(stderr, "bench: the service did not end cleanly (see %s)\n", s->dir.c_str());
  } else {
    fs::remove_all(s->dir);
  }
  s->pid = -1;
  return clean;
}

void BenchPlace(const BenchService& s, unsigned n, const std::string& bytes) {
  fs::path temp = s.dir / "placing.tmp";
  std::ofstream(temp, std::ios::binary) << bytes;
  fs::rename(temp, s.dir / ("TORMEL" + std::to_string(n) + ".BUF"));
}

uint64_t BenchCpuNs(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/schedstat");
  uint64_t ns = 0;
  if (!(stat >> ns)) {
    fprintf(stderr, "bench: cannot read /proc/%d/schedstat\n", static_cast<int>(pid));
    exit(1);
  }
  return ns;
}

double BenchRawRateInChild(uint16_t port, long records) {
  int ends[2];
  if (pipe(ends) != 0) exit(1);
  pid_t pid = fork();
  if (pid == 0) {
    double rate = RawExchangeRate(port, records);
    _exit(write(ends[1], &rate, sizeof rate) == sizeof rate ? 0 : 1);
  }
  close(ends[1]);
  double rate = 0;
  bool got = read(ends[0], &rate, sizeof rate) == sizeof rate;
  close(ends[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!got) {
    fprintf(stderr, "bench: the raw loop in a child process failed\n");
    exit(1);
  }
  return rate;
}

std::string BenchRecord(const char* content) {
  return "$" + std::string(37, ' ') + "127.0.0.1      " + std::string(5, ' ') + content + "\r\n";
}
