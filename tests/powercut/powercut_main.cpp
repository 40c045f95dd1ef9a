// tormel-powercut MOUNTPOINT CONTROL-SOCKET
//
// Mounts the power-cut file system (powercut_disk.h) at MOUNTPOINT and
// serves it until SIGTERM or SIGINT, then unmounts. Commands come as lines
// on the Unix socket CONTROL-SOCKET, which exists once the mount is there;
// each is answered "ok" or "error: WHY":
//   cut          the power goes: the mount shows what the disk holds, and
//                every file or folder opened before fails with EIO
//   fault on     fsync, fdatasync and a folder's fsync fail with EIO
//   fault off    they work again
//   ping         nothing but the answer
// Exit status 0 when stopped, 3 when the mount was refused (no FUSE here),
// 1 on any other failure.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "powercut_disk.h"
#include "powercut_ops.h"

namespace {

constexpr int kMountRefused = 3;

struct Client {
  int fd = -1;
  std::string pending;
};

std::string Command(PcDisk* disk, const std::string& line) {
  if (line == "cut") {
    PcCut(disk);
  } else if (line == "fault on" || line == "fault off") {
    disk->failSyncs = line == "fault on";
  } else if (line != "ping") {
    return "error: unknown command \"" + line + "\"";
  }
  return "ok";
}

int Listen(const char* path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  if (strlen(path) >= sizeof a.sun_path) {
    fprintf(stderr, "tormel-powercut: the control socket's path is too long: %s\n", path);
    return -1;
  }
  strcpy(a.sun_path, path);
  unlink(path);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 8) != 0) {
    fprintf(stderr, "tormel-powercut: cannot listen on %s: %s\n", path, strerror(errno));
    return -1;
  }
  return fd;
}

// Reads what a client sent and answers every whole line; false once it
// has gone.
bool Serve(PcDisk* disk, Client* c) {
  char buf[256];
  ssize_t n = read(c->fd, buf, sizeof buf);
  if (n <= 0) return n < 0 && errno == EINTR;
  c->pending.append(buf, static_cast<size_t>(n));
  for (size_t end; (end = c->pending.find('\n')) != std::string::npos;) {
    std::string answer = Command(disk, c->pending.substr(0, end)) + "\n";
    c->pending.erase(0, end + 1);
    if (write(c->fd, answer.data(), answer.size()) != static_cast<ssize_t>(answer.size())) return false;
  }
  return true;
}

// The session's own loop, single-threaded: FUSE requests and control
// commands one at a time, so that a cut falls between two requests.
int Run(fuse_session* se, PcDisk* disk, int listener) {
  std::vector<Client> clients;
  fuse_buf buf{};
  int status = 0;
  while (!fuse_session_exited(se)) {
    std::vector<pollfd> fds{{fuse_session_fd(se), POLLIN, 0}, {listener, POLLIN, 0}};
    for (const Client& c : clients) fds.push_back({c.fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      status = 1;
      break;
    }
    if (fds[0].revents != 0) {
      int n = fuse_session_receive_buf(se, &buf);
      if (n == -EINTR || n == -EAGAIN) continue;
      if (n <= 0) break;  // unmounted from outside, or the session failed
      fuse_session_process_buf(se, &buf);
    }
    if (fds[1].revents & POLLIN) {
      int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) clients.push_back({fd, ""});
    }
    for (size_t i = 2; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      Client& c = clients[i - 2];
      if (!Serve(disk, &c)) {
        close(c.fd);
        c.fd = -1;
      }
    }
    std::erase_if(clients, [](const Client& c) { return c.fd < 0; });
  }
  for (const Client& c : clients) close(c.fd);
  free(buf.mem);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: tormel-powercut MOUNTPOINT CONTROL-SOCKET\n");
    return 2;
  }
  PcDisk disk;
  PcDiskInit(&disk, getuid(), getgid());

  // The kernel checks permissions from the modes, as on a disk.
  char arg0[] = "tormel-powercut", o[] = "-o", options[] = "default_permissions,fsname=tormel-powercut";
  char* args[] = {arg0, o, options};
  fuse_args fargs = FUSE_ARGS_INIT(3, args);
  fuse_session* se = fuse_session_new(&fargs, PcOperations(), sizeof(fuse_lowlevel_ops), &disk);
  if (se == nullptr) return 1;
  if (fuse_set_signal_handlers(se) != 0) return 1;
  if (fuse_session_mount(se, argv[1]) != 0) {
    fprintf(stderr, "tormel-powercut: cannot mount at %s\n", argv[1]);
    return kMountRefused;
  }
  // A request can be taken back between the poll and the read (its caller
  // was killed): a blocking read would then wait for the next request and
  // leave the control socket unanswered.
  int fd = fuse_session_fd(se);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  int listener = Listen(argv[2]);
  int status = listener < 0 ? 1 : Run(se, &disk, listener);
  if (listener >= 0) {
    close(listener);
    unlink(argv[2]);
  }
  fuse_session_unmount(se);
  fuse_remove_signal_handlers(se);
  fuse_session_destroy(se);
  return status;
}
