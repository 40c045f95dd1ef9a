#include "test_receiver.h"

#include <atomic>
#include <stdexcept>

#include "buflayout.h"

namespace {
constexpr uint32_t kLoopback = 0x7f000001;
constexpr int kPollMs = 50;
std::atomic<uint64_t> framesOfAll{0};
}  // namespace

TestReceiver::TestReceiver(std::function<Reply(int)> script) : TestReceiver(kLoopback, 0, std::move(script)) {}

TestReceiver::TestReceiver(uint32_t ipv4, uint16_t wanted, std::function<Reply(int)> script)
    : script_(std::move(script)), ipv4_(ipv4) {
  OsNetStartup();
  if (OsTcpListen(ipv4, wanted, &listener_, &port) != 0) throw std::runtime_error("cannot listen");
  thread_ = std::thread([this] { Run(); });
}

TestReceiver::~TestReceiver() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
  OsSocketClose(&listener_);
}

void TestReceiver::SetMode(Reply reply, int ackFirst) {
  std::lock_guard<std::mutex> lock(mutex_);
  mode_ = reply;
  ackFirst_ = ackFirst;
}

void TestReceiver::RefuseConnections(bool refuse) {
  std::unique_lock<std::mutex> lock(mutex_);
  refuse_ = refuse;
  wake_.wait(lock, [&] { return listening_ != refuse || stop_; });
}

std::vector<std::string> TestReceiver::Frames() {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_;
}

std::vector<uint64_t> TestReceiver::Sequence() {
  std::lock_guard<std::mutex> lock(mutex_);
  return sequence_;
}

std::vector<std::string> TestReceiver::Records() {
  std::vector<std::string> records;
  for (const std::string& frame : Frames()) {
    std::string content = FrameContent(frame);
    if (!content.empty() && content.back() == '\n') content.pop_back();
    records.push_back(content);
  }
  return records;
}

int TestReceiver::FrameCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(frames_.size());
}

int TestReceiver::Connections() { return connections_; }

int TestReceiver::Answered(Reply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  return answered_[reply];
}

bool TestReceiver::Pause(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
}

void TestReceiver::Run() {
  while (!stop_) {
    bool refuse;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      refuse = refuse_;
    }
    if (refuse != (listener_.handle == -1)) {
      if (refuse) {
        OsSocketClose(&listener_);
      } else if (OsTcpListen(ipv4_, port, &listener_, nullptr) != 0) {
        Pause(10);
        continue;
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        listening_ = !refuse;
      }
      wake_.notify_all();
    }
    if (refuse) {
      Pause(10);
      continue;
    }
    OsSocket client;
    if (OsTcpAccept(listener_, kPollMs, &client) != 0) continue;
    ++connections_;
    size_t sent = 0;
    if (greet && OsTcpSend(client, "1", 1, &sent, 1000) == 0) ++greetings;
    Serve(client);
    OsSocketClose(&client);
  }
}

void TestReceiver::Serve(OsSocket client) {
  std::string frame(TORMEL_FRAME_SIZE, '\0');
  for (int k = 0; !stop_; ++k) {
    size_t have = 0;
    while (have < frame.size()) {
      if (stop_) return;
      size_t got = 0;
      int err = OsTcpRecvSome(client, frame.data() + have, frame.size() - have, &got, kPollMs);
      if (err == OS_NET_TIMEOUT) continue;
      if (err != 0) return;
      have += got;
    }
    Reply reply;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      int n = static_cast<int>(frames_.size());
      frames_.push_back(frame);
      sequence_.push_back(++framesOfAll);
      reply = script_ ? script_(n) : k < ackFirst_ ? Reply::Ack : mode_;
      ++answered_[reply];
    }
    if (reply == Reply::Close) return;
    if (reply == Reply::Silent) {
      // Reads on (a window of frames may come) without answering, until
      // the peer gives up.
      char sink[TORMEL_FRAME_SIZE];
      size_t got = 0;
      for (int err = 0; !stop_ && (err == 0 || err == OS_NET_TIMEOUT);)
        err = OsTcpRecvSome(client, sink, sizeof sink, &got, kPollMs);
      return;
    }
    if (reply == Reply::Late && !Pause(lateMs)) return;
    if (delayMs > 0 && !Pause(delayMs)) return;
    const char* answer = reply == Reply::Refuse ? "0" : reply == Reply::Garbage ? "x" : reply == Reply::Twice ? "11" : "1";
    size_t sent = 0;
    if (OsTcpSend(client, answer, std::char_traits<char>::length(answer), &sent, 1000) != 0) return;
  }
}

std::string FrameContent(const std::string& frame) {
  size_t end = frame.find('\0', TORMEL_PREFIX_SIZE);
  return frame.substr(TORMEL_PREFIX_SIZE, (end == std::string::npos ? frame.size() : end) - TORMEL_PREFIX_SIZE);
}

SilentStation::SilentStation(uint32_t ipv4, uint16_t port) {
  OsNetStartup();
  if (OsTcpListen(ipv4, port, &listener, nullptr, 1) != 0) throw std::runtime_error("cannot listen");
  // Connections are taken into the queue until it is full: then the next
  // attempt gets no answer.
  for (int i = 0; i < 16; ++i) {
    OsSocket s;
    if (OsTcpConnect(ipv4, port, 200, &s) != 0) return;
    queued.push_back(s);
  }
  throw std::runtime_error("the queue of a silent station does not fill");
}

SilentStation::~SilentStation() {
  for (OsSocket& s : queued) OsSocketClose(&s);
  OsSocketClose(&listener);
}
