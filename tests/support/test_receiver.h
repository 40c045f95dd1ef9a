// A receiver on 127.0.0.1 in a thread of the test process: it accepts
// connections one after another, reads 512-byte frames and answers each as
// the test says, from a script or a mode that the test switches while it
// runs. It can also refuse connections altogether.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os_net.h"

// What the receiver does with a frame.
enum class Reply {
  Ack,      // answers "1"
  Refuse,   // answers "0"
  Garbage,  // answers "x"
  Twice,    // answers "11": one answer too many
  Late,     // answers "1" lateMs late
  Close,    // closes the connection without answering
  Silent,   // holds the connection without answering until the peer gives up
};

struct TestReceiver {
  // script(n) is the reply to the n-th frame (counted from 0 over the
  // receiver's life); without one, the mode set last.
  explicit TestReceiver(std::function<Reply(int n)> script = nullptr);
  ~TestReceiver();
  TestReceiver(const TestReceiver&) = delete;
  TestReceiver& operator=(const TestReceiver&) = delete;

  // From now on the first ackFirst frames of a connection are acknowledged,
  // every later one gets reply.
  void SetMode(Reply reply, int ackFirst = 0);
  // Refuses connections (its listener closed) until called with false; it
  // listens again on the same port. Returns once that holds.
  void RefuseConnections(bool refuse);

  std::vector<std::string> Frames();   // as they came
  std::vector<std::string> Records();  // their record contents, without the line end
  int FrameCount();
  int Connections();
  int Answered(Reply reply);  // frames given this reply

  uint16_t port = 0;
  std::atomic<int> delayMs{0};      // every answer leaves this late
  std::atomic<int> lateMs{2000};    // how late a Reply::Late answer comes
  std::atomic<bool> greet{false};   // sends "1" on every connection before any frame came
  std::atomic<int> greetings{0};    // how many were sent

 private:
  void Run();
  void Serve(OsSocket client);
  bool Pause(int ms);  // false when the receiver is stopping
  std::function<Reply(int)> script_;
  OsSocket listener_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  Reply mode_ = Reply::Ack;
  int ackFirst_ = 0;
  bool refuse_ = false;
  bool listening_ = true;
  std::vector<std::string> frames_;
  std::map<Reply, int> answered_;
};

// The record content of a frame: from byte 20 up to its first zero byte.
std::string FrameContent(const std::string& frame);
