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
  // On another loopback address (host byte order) and a port of the test's
  // choosing (0: a free one), as a second station beside the first.
  TestReceiver(uint32_t ipv4, uint16_t port, std::function<Reply(int n)> script = nullptr);
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
  // For each frame, its place among the frames every receiver of the test
  // process took, counted from 1: the order across stations.
  std::vector<uint64_t> Sequence();
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
  uint32_t ipv4_;
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
  std::vector<uint64_t> sequence_;
  std::map<Reply, int> answered_;
};

// A station that is switched on but never answers: it listens on ipv4 and
// port, but its queue of connections not yet accepted is full, so that a
// connection attempt goes unanswered, as behind a firewall.
struct SilentStation {
  SilentStation(uint32_t ipv4, uint16_t port);
  ~SilentStation();
  SilentStation(const SilentStation&) = delete;
  SilentStation& operator=(const SilentStation&) = delete;
  OsSocket listener;
  std::vector<OsSocket> queued;  // the connections that fill its queue
};

// Loopback addresses of further stations.
constexpr uint32_t TEST_STATION_2 = 0x7f000002;  // 127.0.0.2
constexpr uint32_t TEST_STATION_3 = 0x7f000003;  // 127.0.0.3

// The record content of a frame: from byte 20 up to its first zero byte.
std::string FrameContent(const std::string& frame);
