// The service of another user, as the package runs it under its own user:
// root and the members of its group reach its named objects and state,
// others do not, and no visitor makes a file in its runtime folder.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <map>

#include "ctl_fixture.h"
#include "test_receiver.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kSetpriv = "/usr/bin/setpriv";
// Ids no account of the machine is likely to have: the service's user and
// group, a member of that group, and an outsider.
constexpr unsigned kService = 61234;
constexpr unsigned kMember = 61235;
constexpr unsigned kOutsider = 61236;

struct Access : StateTest {
  // The program run as uid with the primary group gid and no other.
  std::vector<std::string> As(unsigned uid, unsigned gid, const std::string& program,
                              const std::vector<std::string>& args) {
    std::vector<std::string> all{"--reuid=" + std::to_string(uid), "--regid=" + std::to_string(gid), "--clear-groups",
                                 program};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }
  CtlResult CtlAs(unsigned uid, unsigned gid, const std::vector<std::string>& args) {
    CtlResult r;
    r.status = RunProgram(kSetpriv, As(uid, gid, TORMELCTL_BIN, args), &r.out, &r.err);
    return r;
  }
  // Every file of the runtime folder: its name, owner and mode.
  std::map<std::string, std::string> Listing() {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir.Path("run"))) {
      struct stat st{};
      lstat(entry.path().c_str(), &st);
      char text[48];
      snprintf(text, sizeof text, "%u:%u %04o", st.st_uid, st.st_gid, st.st_mode & 07777);
      files[entry.path().filename().string()] = text;
    }
    return files;
  }
};

TEST_F(Access, RootAndTheGroupReachAnotherUsersServiceAndMakeNothingThere) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to run the service as a user of its own";
  if (!FileExists(kSetpriv)) GTEST_SKIP() << kSetpriv << " is missing (util-linux)";
  TestReceiver receiver;
  const std::string params = WriteParams(receiver.port);
  // As systemd lays it out for the unit: the working folder and the runtime
  // folder the service's, the group let in, others kept out.
  for (const std::string& folder : {dir.path, dir.Path("run")}) {
    fs::create_directories(folder);
    ASSERT_EQ(chown(folder.c_str(), kService, kService), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0750), 0);
  }
  ChildProcess service = StartProgram(kSetpriv, As(kService, kService, TORMEL_BIN, {params}));
  ASSERT_TRUE(WaitReady(service)) << ReadFile(service.errPath);
  // The service publishes its state as it starts; a sample written beside
  // it would race with its own write of the same file.
  std::string state;
  ASSERT_EQ(StatePath(&state), 0);
  ASSERT_TRUE(WaitFor([&] { return FileExists(state); }));

  const std::map<std::string, std::string> before = Listing();
  const std::string owner = std::to_string(kService) + ":" + std::to_string(kService);
  EXPECT_EQ(before.at("TORMEL_MTX"), owner + " 0640");
  EXPECT_EQ(before.at("StopTormelEvent"), owner + " 0660") << "the group may stop the service";
  EXPECT_EQ(before.at(".StopTormelEvent.guard"), owner + " 0640");
  EXPECT_EQ(before.at("tormel.state"), owner + " 0640");

  const std::string running = "instance: running\nStopTormelEvent: set\nStartTormelEvent: set\nservice: pid ";
  CtlResult s = Ctl({"status", params});
  EXPECT_EQ(s.status, 0) << s.err;
  EXPECT_EQ(s.out.rfind(running, 0), 0u) << "root: " << s.out;
  s = CtlAs(kMember, kService, {"status", params});
  EXPECT_EQ(s.status, 0) << s.err;
  EXPECT_EQ(s.out.rfind(running, 0), 0u) << "a member of the group: " << s.out;
  EXPECT_EQ(CtlAs(kMember, kService, {"health"}).out.rfind("TORMEL OK - ", 0), 0u);
  s = CtlAs(kOutsider, kOutsider, {"status", params});
  EXPECT_EQ(s.status, 1);
  EXPECT_EQ(s.out.rfind("instance: unknown (TORMEL_MTX cannot be reached: ", 0), 0u) << "an outsider: " << s.out;
  EXPECT_EQ(CtlAs(kOutsider, kOutsider, {"health"}).status, 3);
  EXPECT_EQ(Listing(), before) << "nobody but the owner made or changed a file";

  s = CtlAs(kMember, kService, {"stop"});
  EXPECT_EQ(s.status, 0) << s.out << s.err;
  EXPECT_EQ(WaitExit(service, std::chrono::seconds(5)), 0);

  // A folder whose objects are gone: a visitor finds them absent and makes
  // no guard, event or lock file that would lock its owner out.
  for (const char* name : {".StopTormelEvent.guard", ".StartTormelEvent.guard", "TORMEL_MTX"})
    fs::remove(dir.Path("run") + "/" + name);
  const std::map<std::string, std::string> emptied = Listing();
  s = Ctl({"status", params});
  EXPECT_EQ(s.out.rfind("instance: not running\nStopTormelEvent: absent\nStartTormelEvent: absent\n", 0), 0u)
      << s.out;
  EXPECT_EQ(Ctl({"stop"}).out, "no instance running\n");
  OsEvent ev;
  EXPECT_EQ(OsEventCreate(TORMEL_STOP_EVENT_NAME, true, &ev), EACCES);
  OsMutex m;
  EXPECT_EQ(OsMutexClaim(TORMEL_MUTEX_NAME, &m), EACCES);
  EXPECT_EQ(Listing(), emptied);

  // A runtime folder others may write is refused, a visitor's as well.
  ASSERT_EQ(chmod(dir.Path("run").c_str(), 0770), 0);
  EXPECT_EQ(CtlAs(kMember, kService, {"status", params}).status, 1);
}

}  // namespace
