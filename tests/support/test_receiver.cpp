#include "test_receiver.h"

#include <chrono>
#include <cstring>
#include <stdexcept>

namespace {
constexpr size_t kFrameSize = 512;
constexpr uint32_t kLoopback = 0x7f000001;
}  // namespace

TestReceiver::TestReceiver(std::function<Reply(int)> script) : script_(std::move(script)) {
  OsNetStartup();
  if (OsTcpListen(kLoopback, 0, &listener_, &port) != 0) throw std::runtime_error("cannot listen");
  thread_ = std::thread([this] { Run(); });
}

TestReceiver::~TestReceiver() {
  stop_ = true;
  thread_.join();
  OsSocketClose(&listener_);
}

std::vector<std::string> TestReceiver::Frames() {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_;
}

int TestReceiver::FrameCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(frames_.size());
}

int TestReceiver::Connections() { return connections_; }

void TestReceiver::Run() {
  while (!stop_) {
    OsSocket client;
    if (OsTcpAccept(listener_, 50, &client) != 0) continue;
    ++connections_;
    size_t sent = 0;
    if (greet && OsTcpSend(client, "1", 1, &sent, 1000) == 0) ++greetings;
    Serve(client);
    OsSocketClose(&client);
  }
}

void TestReceiver::Serve(OsSocket client) {
  std::string frame(kFrameSize, '\0');
  size_t have = 0;
  while (!stop_) {
    size_t got = 0;
    int err = OsTcpRecvSome(client, frame.data() + have, kFrameSize - have, &got, 50);
    if (err == OS_NET_TIMEOUT) continue;
    if (err != 0) return;
    have += got;
    if (have < kFrameSize) continue;
    have = 0;
    int n;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      n = static_cast<int>(frames_.size());
      frames_.push_back(frame);
    }
    Reply reply = script_ ? script_(n) : Reply::Ack;
    if (reply == Reply::Close) return;
    if (reply == Reply::Silent) {
      // Holds the connection without answering until the peer gives up.
      char sink[kFrameSize];
      for (int err = 0; !stop_ && (err == 0 || err == OS_NET_TIMEOUT);) err = OsTcpRecvSome(client, sink, sizeof sink, &got, 50);
      return;
    }
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs.load()));
    const char* answer = reply == Reply::Ack ? "1" : reply == Reply::Refuse ? "0" : reply == Reply::Twice ? "11" : "x";
    size_t sent = 0;
    if (OsTcpSend(client, answer, strlen(answer), &sent, 1000) != 0) return;
  }
}

std::string FrameContent(const std::string& frame) {
  size_t end = frame.find('\0', 20);
  return frame.substr(20, (end == std::string::npos ? frame.size() : end) - 20);
}
