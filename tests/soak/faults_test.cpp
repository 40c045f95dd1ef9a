// A receiver that fails in every way it can, one way after another, and then
// recovers: nothing is lost, each failure is logged as the forwarding loop
// does it, and a termination request ends the service promptly whatever it
// is waiting for.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "soak_support.h"

namespace {

constexpr int kFiles = 4;
constexpr int kPerFile = 30;

bool Logged(const SoakService& service, const std::string& text) {
  return service.Log().find(text) != std::string::npos;
}

const char* const kRefused =
    "function=TormelWork() severity=100 code=0 secondary=0 message=\"Fehler: CSocketClientOpen! ErrorCode: 111\"";
std::string ReadFailed(int code) {
  return "function=SndWithReply() severity=1 code=" + std::to_string(code) +
         " secondary=0 message=\"Fehler: CSocketRead! ErrorCode: " + std::to_string(code) + "\"";
}
std::string ExchangeFailed(int code) {
  return "function=TormelWork() severity=1 code=" + std::to_string(code) +
         " secondary=0 message=\"Fehler: SndWithReply! ErrorCode: " + std::to_string(code) + "\"";
}

TEST(ReceiverFaults, RefusedClosedZeroLateGarbageThenHealthyLosesNothing) {
  TestReceiver receiver;
  receiver.lateMs = 1600;  // beyond the one-second time-out
  receiver.RefuseConnections(true);
  SoakService service(receiver.port);
  service.Start();
  ASSERT_TRUE(service.WaitReady());
  // No buffer file yet, so nothing but what the service holds for its whole run.
  const int descriptors = service.SettledDescriptors();
  std::set<std::string> expected;
  for (int f = 1; f <= kFiles; ++f) {
    std::string file;
    for (int i = 0; i < kPerFile; ++i) {
      std::string content = "file " + std::to_string(f) + " record " + std::to_string(i);
      expected.insert(content);
      file += BufferLine(content);
    }
    PlaceFile(service.Buffer(f), file);
  }
  auto phase = [&](const char* name, const std::function<bool()>& done) {
    EXPECT_TRUE(WaitFor(done, std::chrono::seconds(20))) << "phase " << name;
    ASSERT_TRUE(IsRunning(service.child)) << "phase " << name;
  };

  phase("refused", [&] { return Logged(service, kRefused); });
  receiver.RefuseConnections(false);
  receiver.SetMode(Reply::Close, 2);
  phase("closed", [&] { return Logged(service, ExchangeFailed(9002)); });
  receiver.SetMode(Reply::Refuse, 2);
  phase("zero", [&] { return receiver.Answered(Reply::Refuse) >= 3; });
  receiver.SetMode(Reply::Late, 2);
  phase("late", [&] { return Logged(service, ExchangeFailed(9001)); });
  receiver.SetMode(Reply::Garbage, 2);
  phase("garbage", [&] { return receiver.Answered(Reply::Garbage) >= 3; });
  receiver.SetMode(Reply::Ack);
  phase("healthy", [&] { return !BufferFileLeft(service.dir.path); });

  // With no buffer file left, the service holds what it held at the start.
  EXPECT_TRUE(WaitFor([&] { return service.OpenDescriptors() == descriptors; }))
      << service.OpenDescriptors() << " descriptors open, " << descriptors << " at the start";
  EXPECT_EQ(service.Stop(), 0);

  std::vector<std::string> records = receiver.Records();
  std::set<std::string> received(records.begin(), records.end());
  EXPECT_EQ(received, expected);

  // Each failure logged, refusals with severity 100, a failed read twice
  // with the same code; "0" and garbage answers not at all.
  std::set<std::string> allowed{kRefused,         ReadFailed(9002),     ExchangeFailed(9002),
                                ReadFailed(9001), ExchangeFailed(9001)};
  std::vector<std::string> entries = LogEntries(service.Log());
  std::set<std::string> kinds(entries.begin(), entries.end());
  EXPECT_EQ(kinds, allowed) << service.Log();
  for (int code : {9001, 9002}) {
    EXPECT_EQ(std::count(entries.begin(), entries.end(), ReadFailed(code)),
              std::count(entries.begin(), entries.end(), ExchangeFailed(code)));
  }
}

// With a long time-out, each way of failing leaves the service waiting on
// something: a sleep after a refusal, an answer that does not come, the next
// pass. A termination request must end every one of them at once.
TEST(ReceiverFaults, TerminationRequestEndsEveryWaitPromptly) {
  struct Case {
    const char* name;
    bool refused;
    Reply mode;
  } cases[] = {{"refused", true, Reply::Ack},     {"closed", false, Reply::Close},    {"zero", false, Reply::Refuse},
               {"late", false, Reply::Late},      {"garbage", false, Reply::Garbage}, {"healthy", false, Reply::Ack}};
  for (const auto& [name, refused, mode] : cases) {
    SCOPED_TRACE(name);
    TestReceiver receiver;
    receiver.lateMs = 120000;
    receiver.RefuseConnections(refused);
    receiver.SetMode(mode, 1);
    SoakService service(receiver.port, 60);
    std::string file;
    for (int i = 0; i < 5; ++i) file += BufferLine("record " + std::to_string(i));
    WriteFile(service.Buffer(1), file);
    service.Start();
    ASSERT_TRUE(service.WaitReady());
    if (refused) {
      ASSERT_TRUE(WaitFor([&] { return Logged(service, kRefused); }));
    } else if (mode == Reply::Ack) {
      ASSERT_TRUE(WaitFor([&] { return !FileExists(service.Buffer(1)); }));
    } else {
      ASSERT_TRUE(WaitFor([&] { return receiver.Answered(mode) >= 1; }));
    }
    EXPECT_EQ(service.Stop(std::chrono::seconds(3)), 0) << "not ended within 3 s of SIGTERM (-1) or not cleanly";
  }
}

}  // namespace
