#include "soak_support.h"

#include <dirent.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace {
constexpr size_t kFrameSize = 512;
constexpr uint32_t kLoopback = 0x7f000001;
constexpr int kPollMs = 50;
}  // namespace

SoakReceiver::SoakReceiver() {
  OsNetStartup();
  if (OsTcpListen(kLoopback, 0, &listener_, &port) != 0) throw std::runtime_error("cannot listen");
  thread_ = std::thread([this] { Run(); });
}

SoakReceiver::~SoakReceiver() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
  OsSocketClose(&listener_);
}

void SoakReceiver::SetMode(Mode mode, int ackFirst) {
  std::unique_lock<std::mutex> lock(mutex_);
  mode_ = mode;
  ackFirst_ = ackFirst;
  if (mode == Mode::Refuse) wake_.wait(lock, [this] { return !listening_ || stop_; });
}

std::vector<std::string> SoakReceiver::Records() {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

int SoakReceiver::Count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(records_.size());
}

int SoakReceiver::Answered(Mode mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  return answered_[mode];
}

bool SoakReceiver::Pause(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
}

void SoakReceiver::Run() {
  while (!stop_) {
    Mode mode;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      mode = mode_;
    }
    if (mode == Mode::Refuse) {
      OsSocketClose(&listener_);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        listening_ = false;
      }
      wake_.notify_all();
      Pause(10);
      continue;
    }
    if (listener_.handle < 0) {
      if (OsTcpListen(kLoopback, port, &listener_, nullptr) != 0) {
        Pause(10);
        continue;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      listening_ = true;
    }
    OsSocket client;
    if (OsTcpAccept(listener_, kPollMs, &client) != 0) continue;
    Serve(client);
    OsSocketClose(&client);
  }
}

void SoakReceiver::Serve(OsSocket client) {
  char frame[kFrameSize];
  for (int k = 0; !stop_; ++k) {
    size_t have = 0;
    while (have < kFrameSize) {
      if (stop_) return;
      size_t got = 0;
      int err = OsTcpRecvSome(client, frame + have, kFrameSize - have, &got, kPollMs);
      if (err == OS_NET_TIMEOUT) continue;
      if (err != 0) return;
      have += got;
    }
    size_t end = 20;
    while (end < kFrameSize && frame[end] != '\0') ++end;
    if (end > 20 && frame[end - 1] == '\n') --end;
    Mode mode;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      records_.emplace_back(frame + 20, end - 20);
      mode = k < ackFirst_ || mode_ == Mode::Refuse ? Mode::Ack : mode_;
      ++answered_[mode];
    }
    if (mode == Mode::Close) return;
    if (mode == Mode::Late && !Pause(lateMs)) return;
    if (mode == Mode::Ack && delayMs > 0 && !Pause(delayMs)) return;
    char answer = mode == Mode::Zero ? '0' : mode == Mode::Garbage ? 'x' : '1';
    size_t sent = 0;
    if (OsTcpSend(client, &answer, 1, &sent, 1000) != 0) return;
  }
}

std::string Record(const std::string& content) {
  return '$' + std::string(37, ' ') + "127.0.0.1      " + std::string(5, ' ') + content + "\r\n";
}

SoakService::SoakService(uint16_t port, int timeoutSeconds, int window) {
  env["TORMEL_RUNTIME_DIR"] = dir.Path("run");
  params = dir.Path("SOCKIO.INI");
  WriteFile(params, "KEYINI\r\n[TORMEL]\r\nXFRIP = 127.0.0.1\r\nXFRPORT = " + std::to_string(port) +
                        "\r\nBUFFDATEI = TORMEL.BUF\r\nLOGDATEI = TORMEL.LOG\r\nERRLEVEL = 1000\r\n"
                        "MAXLOGSIZE = 10000\r\nTIMEOUT = " +
                        std::to_string(timeoutSeconds) + "\r\nWINDOW = " + std::to_string(window) + "\r\n");
}

SoakService::~SoakService() {
  if (child.pid > 0) Kill();
}

void SoakService::Start() { child = StartProcess(TORMEL_BIN, {params}, dir.path, env); }

bool SoakService::WaitReady() {
  return WaitFor([&] { return ReadFile(dir.Path("run/StartTormelEvent")) == "1" || !IsRunning(child); }) &&
         IsRunning(child);
}

int SoakService::Stop(std::chrono::milliseconds deadline) {
  SendSignal(child, SIGTERM);
  return WaitExit(child, deadline);
}

void SoakService::Kill() {
  SendSignal(child, SIGKILL);
  WaitExit(child);
}

int SoakService::OpenDescriptors() const {
  DIR* d = opendir(("/proc/" + std::to_string(child.pid) + "/fd").c_str());
  if (!d) return -1;
  int n = 0;
  while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

std::vector<std::string> LogEntries(const std::string& log) {
  static const std::regex entry(R"re((function=\S+ severity=\d+ code=-?\d+ secondary=-?\d+ message=".*") detail=)re");
  std::vector<std::string> entries;
  std::istringstream lines(log);
  std::string line;
  std::smatch m;
  while (std::getline(lines, line)) {
    entries.push_back(std::regex_search(line, m, entry) ? m[1].str() : "unreadable: " + line);
  }
  return entries;
}
