// The listing, run in real child processes: without a terminal it must print
// everything and end on its own; with one it waits for a key per entry.
#include "param_fixture.h"
#include "test_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDeadline = std::chrono::seconds(20);

// A child in its own session (so without a controlling terminal), its
// standard output in a pipe that the test reads.
struct Child {
  pid_t pid = -1;
  int out = -1;
  std::string text;
};

Child StartChild(const std::function<void()>& setupStdin, const std::function<int()>& body) {
  int fds[2];
  Child c;
  if (pipe(fds) != 0) return c;
  std::fflush(stdout);
  c.pid = fork();
  if (c.pid == 0) {
    setsid();
    setupStdin();
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    int rc = body();
    std::fflush(stdout);
    _exit(rc);
  }
  close(fds[1]);
  c.out = fds[0];
  return c;
}

// Reads until the output holds `count` copies of needle (or, with an empty
// needle, until the child closes its output); false at the deadline.
bool ReadUntil(Child* c, const std::string& needle, int count, Clock::time_point deadline) {
  auto occurrences = [&] {
    int n = 0;
    for (size_t at = c->text.find(needle); at != std::string::npos;
         at = c->text.find(needle, at + 1)) {
      n++;
    }
    return n;
  };
  for (;;) {
    if (!needle.empty() && occurrences() >= count) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{c->out, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[4096];
    ssize_t n = read(c->out, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return needle.empty();
    c->text.append(buf, static_cast<size_t>(n));
  }
}

// The child's exit status once its output ended; kills it on failure.
int Finish(Child* c, bool ended) {
  ChildProcess child = ForkedChild(c->pid);
  if (!ended) SendSignal(child, SIGKILL);
  int status = WaitExit(child);
  close(c->out);
  return ended ? status : -1;
}

bool StillRunning(const Child& c) { return IsRunning(ForkedChild(c.pid)); }

void StdinFromDevNull() {
  int fd = open("/dev/null", O_RDONLY);
  dup2(fd, STDIN_FILENO);
  close(fd);
}

const char* kHeader = "Parameterliste fuer Programm-Initialisierungsdatei:\r\n";
const char* kPrompt = "Bitte eine Taste druecken !";

class ListingTest : public ParamFileTest {
 protected:
  void SetUp() override {
    ParamFileTest::SetUp();
    table_ = {MakeEntry("S", "PORT", TYPINT, 0, 65535, 0, 1, "5", "Port des Empfaengers"),
              MakeEntry("D", "X", TYPDYN, 0, 0, 1, 1, "gone"),
              MakeEntry("S", "ODD", -7, 1.5, 2.25, 1, 1, "zz")};
    table_[0].tokenId = 7;
    table_[2].tokenId = -3;
  }

  int RunList(const std::function<void()>& setupStdin, int32_t modes, Child* c,
              const std::function<bool(Child*)>& drive) {
    std::string path = Write(FileOfS("PORT = 6665\r\n[D] DYNAMIC\r\nk = v\r\n"));
    *c = StartChild(setupStdin, [&] {
      int32_t code = 99, where = 0;
      int32_t rc = ParamFileRead(path.c_str(), modes, table_.data(),
                                 static_cast<int32_t>(table_.size()), &code, &where);
      return rc == 1 && code == PAROK ? 0 : 1;
    });
    if (c->pid < 0) return -1;
    bool ok = drive(c);
    return Finish(c, ok && ReadUntil(c, "", 0, Clock::now() + kDeadline));
  }

  static std::string Expected() {
    return std::string(kHeader) +
           "\r\n"
           "Nummer_________: 0\r\nGruppen-Token__: S\r\n"
           "Parameter-Token: PORT\r\nToken-ID_______: 7\r\n"
           "Optional_______: 0\r\nOnError________: 1\r\n"
           "Min____________: 0.000000\r\nMax____________: 65535.000000\r\n"
           "Typ____________: TYPINT\r\nDefault-Wert___: 5\r\n"
           "Inhalt_________: 6665\r\nKommentar______: Port des Empfaengers\r\n"
           "\r\nBitte eine Taste druecken !\r\n"
           "\r\n"
           "Nummer_________: 1\r\nGruppen-Token__: D\r\n"
           "Parameter-Token: X\r\nToken-ID_______: 0\r\n"
           "Optional_______: 1\r\nOnError________: 1\r\n"
           "Min____________: 0.000000\r\nMax____________: 0.000000\r\n"
           "Typ____________: TYPDYN\r\nDefault-Wert___: (null)\r\n"
           "Inhalt_________: \r\nKommentar______: (null)\r\n"
           "\r\nBitte eine Taste druecken !\r\n"
           "\r\n"
           "Nummer_________: 2\r\nGruppen-Token__: S\r\n"
           "Parameter-Token: ODD\r\nToken-ID_______: -3\r\n"
           "Optional_______: 1\r\nOnError________: 1\r\n"
           "Min____________: 1.500000\r\nMax____________: 2.250000\r\n"
           "Typ____________: TYPUNKNOWN\r\nDefault-Wert___: zz\r\n"
           "Inhalt_________: \r\nKommentar______: (null)\r\n"
           "\r\nBitte eine Taste druecken !\r\n";
  }
};

TEST_F(ListingTest, WithoutATerminalItPrintsEverythingAndDoesNotWait) {
  Child c;
  int status = RunList(StdinFromDevNull, PARREAD | PARCHECK | PARLIST | PARFREE, &c,
                       [](Child*) { return true; });
  EXPECT_EQ(status, 0) << "the listing must end on its own within the deadline";
  EXPECT_EQ(c.text, Expected());
}

TEST_F(ListingTest, EmptyTablePrintsOnlyTheHeaderAndKeepsTheCode) {
  table_.clear();
  int32_t code = 55, where = 66;
  Child c = StartChild(StdinFromDevNull, [&] {
    return ParamFileRead(nullptr, PARLIST, nullptr, 0, &code, &where) == 1 && code == 55 ? 0 : 1;
  });
  ASSERT_GT(c.pid, 0);
  EXPECT_EQ(Finish(&c, ReadUntil(&c, "", 0, Clock::now() + kDeadline)), 0);
  EXPECT_EQ(c.text, kHeader);
}

TEST_F(ListingTest, WithATerminalEachEntryWaitsForOneKey) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  std::string slave = ptsname(master);
  auto onTerminal = [&] {
    int fd = open(slave.c_str(), O_RDWR);  // the new session's controlling terminal
    dup2(fd, STDIN_FILENO);
    close(fd);
  };
  auto echoing = [&] {
    termios t{};
    return tcgetattr(master, &t) == 0 && (t.c_lflag & ECHO) != 0;
  };
  auto press = [&](Child* c) {
    auto deadline = Clock::now() + kDeadline;
    for (int key = 1; key <= 3; key++) {
      if (!ReadUntil(c, kPrompt, key, deadline)) return false;
      // It waits for the key: one press moves it on by exactly one entry.
      EXPECT_TRUE(StillRunning(*c)) << "entry " << key - 1 << " did not wait";
      // Without echo for the whole wait, not only while it looks for a key
      // now and then: a key pressed between two looks must not show either.
      while (echoing() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      EXPECT_FALSE(echoing()) << "entry " << key - 1;
      EXPECT_EQ(write(master, "k", 1), 1);
      if (key < 3 && ReadUntil(c, kPrompt, key + 1, deadline)) {
        pollfd p{master, POLLIN, 0};
        EXPECT_EQ(poll(&p, 1, 0), 0) << "the key was echoed";
      }
    }
    return true;
  };
  Child c;
  int status = RunList(onTerminal, PARREAD | PARLIST | PARFREE, &c, press);
  EXPECT_TRUE(echoing()) << "the terminal was not given back";
  close(master);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(c.text, Expected());
}

}  // namespace
