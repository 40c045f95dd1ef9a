#include "powercut_mount.h"

#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "test_support.h"

namespace {

// One command, one answer line; false unless the answer is "ok".
bool Ask(const std::string& socketPath, const std::string& command, std::string* answer) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof a.sun_path) return false;
  strcpy(a.sun_path, socketPath.c_str());
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  std::string line = command + "\n";
  ok = ok && send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
  answer->clear();
  char c = 0;
  while (ok && read(fd, &c, 1) == 1 && c != '\n') answer->push_back(c);
  close(fd);
  return ok && *answer == "ok";
}

// A FUSE mount whose daemon has gone answers ENOTCONN; it is taken away.
void DetachDeadMount(const std::string& path) {
  struct stat st{};
  if (stat(path.c_str(), &st) == 0 || errno != ENOTCONN) return;
  if (umount2(path.c_str(), MNT_DETACH) != 0) {
    RunProcess("/usr/bin/fusermount3", {"-u", "-z", path}, "/", {});
  }
}

}  // namespace

PowerCutMount::PowerCutMount(const std::string& folder) {
  path = folder + "/disk";
  control = folder + "/powercut.sock";
  if (access("/dev/fuse", R_OK | W_OK) != 0) {
    unavailable = std::string("FUSE is not to be had here: /dev/fuse: ") + strerror(errno);
    return;
  }
  std::filesystem::create_directory(path);
  daemon = StartProcess(TORMEL_POWERCUT_BIN, {path, control}, folder);
  std::string answer;
  if (WaitFor([&] { return Ask(control, "ping", &answer) || !IsRunning(daemon); })) {
    mounted = IsRunning(daemon);
  }
  if (mounted) return;
  std::string err = ReadFile(daemon.errPath);
  int status = IsRunning(daemon) ? (SendSignal(daemon, SIGKILL), WaitExit(daemon)) : WaitExit(daemon);
  DetachDeadMount(path);
  if (status == 3) {
    unavailable = "this machine refuses a FUSE mount: " + err;
  } else {
    failure = "tormel-powercut did not come up (status " + std::to_string(status) + "): " + err;
  }
}

PowerCutMount::~PowerCutMount() {
  if (daemon.pid <= 0) return;
  SendSignal(daemon, SIGTERM);
  WaitExit(daemon);
  DetachDeadMount(path);
}

bool PowerCutMount::Command(const std::string& command) {
  std::string answer;
  if (Ask(control, command, &answer)) return true;
  failure = "\"" + command + "\" answered \"" + answer + "\"";
  return false;
}
