// A receiver on 127.0.0.1 in a thread of the test process: it accepts
// connections one after another, reads 512-byte frames and answers each as
// the test's script says.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os_net.h"

// What the receiver does with the n-th frame (counted from 0 over its life).
// Twice answers "11": one answer too many.
enum class Reply { Ack, Refuse, Close, Silent, Garbage, Twice };

struct TestReceiver {
  explicit TestReceiver(std::function<Reply(int frame)> script = nullptr);
  ~TestReceiver();
  TestReceiver(const TestReceiver&) = delete;
  TestReceiver& operator=(const TestReceiver&) = delete;

  uint16_t port = 0;
  std::atomic<int> delayMs{0};  // every answer leaves this late
  std::atomic<bool> greet{false};  // sends "1" on every connection before any frame came
  std::atomic<int> greetings{0};   // how many were sent
  std::vector<std::string> Frames();
  int FrameCount();
  int Connections();

 private:
  void Run();
  void Serve(OsSocket client);
  std::function<Reply(int)> script_;
  OsSocket listener_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::mutex mutex_;
  std::vector<std::string> frames_;
};

// The record content of a frame: from byte 20 up to its first zero byte.
std::string FrameContent(const std::string& frame);
