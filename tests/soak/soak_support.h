// What the fault suites share: a receiver whose behaviour the test switches
// while it runs, the service program as a process in a fresh folder, and
// buffer lines with recognisable records.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os_net.h"
#include "test_process.h"
#include "test_support.h"

// How the receiver answers a frame beyond the first ackFirst of a connection.
enum class Mode { Ack, Refuse, Close, Zero, Late, Garbage };

// A receiver on 127.0.0.1 in a thread. Mode::Refuse closes its listener, so
// connections are refused until another mode is set; it listens again on the
// same port.
struct SoakReceiver {
  SoakReceiver();
  ~SoakReceiver();
  SoakReceiver(const SoakReceiver&) = delete;
  SoakReceiver& operator=(const SoakReceiver&) = delete;

  // Returns once the mode holds; after Mode::Refuse, no connection is taken.
  void SetMode(Mode mode, int ackFirst = 0);
  std::vector<std::string> Records();  // record contents in order of arrival, line end dropped
  int Count();
  int Answered(Mode mode);             // frames answered (or dropped) in this mode

  uint16_t port = 0;
  std::atomic<int> delayMs{0};         // wait before every answer
  std::atomic<int> lateMs{2000};       // how late a Mode::Late answer comes

 private:
  void Run();
  void Serve(OsSocket client);
  bool Pause(int ms);  // false when the receiver is stopping
  OsSocket listener_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::atomic<bool> stop_{false};
  Mode mode_ = Mode::Ack;
  int ackFirst_ = 0;
  bool listening_ = true;
  std::vector<std::string> records_;
  std::map<Mode, int> answered_;
};

// A buffer line for the receiver 127.0.0.1 holding content, with CR LF.
std::string Record(const std::string& content);

// The service program in a folder of its own, with a parameter file naming
// the receiver's port and buffer files TORMEL<n>.BUF in that folder.
struct SoakService {
  explicit SoakService(uint16_t port, int timeoutSeconds = 1, int window = 1);
  ~SoakService();
  void Start();
  // Waits until the started service has published its start event.
  bool WaitReady();
  // SIGTERM, then its exit status within deadline (-1 if it overran).
  int Stop(std::chrono::milliseconds deadline = std::chrono::seconds(5));
  void Kill();
  std::string Buffer(int n) const { return dir.Path("TORMEL" + std::to_string(n) + ".BUF"); }
  std::string Log() const { return ReadFile(dir.Path("TORMEL.LOG")); }
  int OpenDescriptors() const;  // entries of /proc/<pid>/fd

  TempDir dir;
  std::string params;
  std::map<std::string, std::string> env;
  ChildProcess child;
};

// Log lines, each reduced to function, severity, code, secondary and message.
std::vector<std::string> LogEntries(const std::string& log);
